#include "plugin/python_plugin.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "config/current_directory.h"
#include "config/path_list.h"
#include "plugin/log_line.h"
#include "requests/hot_path.h"

namespace {

constexpr const char kLogFileName[] = "qorv_python.txt";

// A line of the log longer than this without its end is written as it is.
constexpr std::size_t kLongestPendingLine = 65536;

// The log file in `directory`, as an absolute path, so that the log stays
// where it is when Python code changes the current directory; with no
// directory, in the current one.
std::string LogFilePath(const char* directory) {
  std::string path = directory != nullptr ? directory : "";
  path = path.empty() ? CurrentDirectory() : BelowCurrentDirectory(path, kPathSeparator);
  std::unique_ptr<char, decltype(&std::free)> joined(
      JoinPath(path.c_str(), kLogFileName, kPathSeparator), &std::free);
  return joined != nullptr ? std::string(joined.get()) : std::string();
}

// `text` without the escape sequences that colour a terminal's output
// (ESC [ ... final byte): the log is a plain file.
void AppendPlain(std::string* out, const char* text, std::size_t length) {
  for (std::size_t i = 0; i < length; ++i) {
    if (text[i] == '\x1b' && i + 1 < length && text[i + 1] == '[') {
      std::size_t end = i + 2;
      while (end < length && !(text[end] >= 0x40 && text[end] <= 0x7E)) ++end;
      i = end;
      continue;
    }
    out->push_back(text[i]);
  }
}

// Marks the calling host thread as inside the plugin while Open or Close
// runs, so that Python code they run that calls the plugin again is refused
// rather than waiting for its own thread.
class InsidePlugin {
 public:
  explicit InsidePlugin(HostThread* thread) : thread_(thread != nullptr && thread->Enter() ? thread : nullptr) {}
  ~InsidePlugin() {
    if (thread_ != nullptr) thread_->Leave();
  }
  InsidePlugin(const InsidePlugin&) = delete;
  InsidePlugin& operator=(const InsidePlugin&) = delete;

 private:
  HostThread* thread_;
};

}  // namespace

// Runs the whole shutdown when the library is unloaded without a Close from
// the host; after the host's Close it finds nothing left to do.
PythonPlugin::~PythonPlugin() { PythonPlugin::Close(); }

QORV_HOT_PATH(03)
void PythonPlugin::TakeTurn() {
  if (turn_.try_lock()) return;
  if (ThreadStates::CallerHoldsTheLock()) {
    const Runtime::Released unlocked;
    turn_.lock();
    return;
  }
  turn_.lock();
}

bool PythonPlugin::Open(const char* directory) {
  HostThread* thread = hostThreads_.Get();
  if (thread != nullptr && thread->depth() > 0) {
    ReportOutsideRun("Open called by Python code while the plugin serves a call; it is refused",
                     LogDetail::None);
    return false;
  }
  TakeTurn();
  const std::lock_guard<Turn> turn(turn_, std::adopt_lock);
  const InsidePlugin inside(thread);
  try {
    // A second Open without a Close first closes the run that is open, so
    // that every Open starts afresh and a failed one serves nothing.
    EndSession();
    FlushLog();
    const std::string path = LogFilePath(directory);
    bool logOpen = false;
    {
      const std::lock_guard<std::mutex> log(logMutex_);
      logOpen = PluginBase::Open(path.c_str());
    }
    if (!logOpen) {
      ReportOutsideRun("cannot create the log file '" + path + "': " + std::strerror(errno),
                       LogDetail::None);
      return false;
    }
    PluginSettings settings = ReadPluginSettings(SettingsFilePath(), kPathSeparator);
    // Relative script directories and sys.path entries mean where they are
    // now: Python code or the host that changes the current directory later
    // does not move them.
    for (std::vector<std::string>* directories : {&settings.scriptDirectories, &settings.pythonPath}) {
      for (std::string& directory : *directories) {
        directory = BelowCurrentDirectory(directory, kPathSeparator);
      }
    }
    const LogDetail log = settings.log;
    for (const std::string& warning : settings.warnings) ReportOutsideRun(warning, log);
    auto session = std::make_unique<Session>(runtime_, std::move(settings), Session::Log{&AppendToLog, this});
    std::string reason;
    if (!session->Start(&reason)) {
      session.reset();
      ReportOutsideRun(reason, log);
      return false;
    }
    const std::unique_lock<std::shared_mutex> guard(sessionGuard_);
    session_ = std::move(session);
    return true;
  } catch (...) {
    return false;
  }
}

bool PythonPlugin::Close() {
  HostThread* thread = hostThreads_.Get();
  if (thread != nullptr && thread->depth() > 0) {
    ReportOutsideRun("Close called by Python code while the plugin serves a call; it is refused",
                     LogDetail::None);
    return true;
  }
  TakeTurn();
  const std::lock_guard<Turn> turn(turn_, std::adopt_lock);
  const InsidePlugin inside(thread);
  try {
    EndSession();
  } catch (...) {
    // Close never fails; what could not be released stays behind.
  }
  FlushLog();
  const std::lock_guard<std::mutex> log(logMutex_);
  return PluginBase::Close();
}

void PythonPlugin::EndSession() {
  std::unique_ptr<Session> ending;
  {
    const std::unique_lock<std::shared_mutex> guard(sessionGuard_);
    ending = std::move(session_);
  }
  if (ending != nullptr) ending->End();
}

QORV_HOT_PATH(01)
const char* PythonPlugin::HandleRequest(const char* /*hostArgument*/, const char* functionName,
                                        char* parameters) {
  if (functionName == nullptr || parameters == nullptr) return Session::Refuse(parameters);
  HostThread* thread = hostThreads_.Get();
  if (thread == nullptr) return Session::Refuse(parameters);
  const Session::Row* row = Session::FindRequest(functionName);
  if (row != nullptr && row->servedAtOnce) {
    const std::shared_lock<std::shared_mutex> guard(sessionGuard_);
    if (session_ == nullptr) return Session::Refuse(parameters);
    return session_->ServeAtOnce(*row, *thread, functionName, parameters);
  }
  // Python code in a call of this thread calls the plugin again: the turn
  // is already this thread's.
  if (thread->depth() > 0) {
    if (session_ == nullptr) return Session::Refuse(parameters);
    return session_->Serve(row, *thread, functionName, parameters);
  }
  TakeTurn();
  const std::lock_guard<Turn> turn(turn_, std::adopt_lock);
  if (session_ == nullptr) return Session::Refuse(parameters);
  return session_->Serve(row, *thread, functionName, parameters);
}

void PythonPlugin::ReportOutsideRun(const std::string& line, LogDetail log) {
  const std::string text = "qorv_python: " + OneLine(line, 1000) + "\n";
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
  if (log != LogDetail::None) AppendToLog(this, text.data(), text.size());
}

// Called from Python code (sys.stderr's copy) as well: it never throws.
void PythonPlugin::AppendToLog(void* opaque, const char* text, std::size_t length) {
  auto* plugin = static_cast<PythonPlugin*>(opaque);
  try {
    const std::lock_guard<std::mutex> lock(plugin->logMutex_);
    std::string& pending = plugin->pendingLog_;
    AppendPlain(&pending, text, length);
    std::size_t end = pending.rfind('\n');
    if (end == std::string::npos) {
      if (pending.size() <= kLongestPendingLine) return;
      pending += '\n';
      end = pending.size() - 1;
    }
    const std::string lines = pending.substr(0, end + 1);
    pending.erase(0, end + 1);
    plugin->WriteLog("%s", lines.c_str());
  } catch (...) {
    // Without memory the text stays out of the log.
  }
}

void PythonPlugin::FlushLog() {
  const std::lock_guard<std::mutex> lock(logMutex_);
  if (pendingLog_.empty()) return;
  pendingLog_ += '\n';
  WriteLog("%s", pendingLog_.c_str());
  pendingLog_.clear();
}
