// qorv-host: the reference host. It loads a plugin as any QORV host would
// (dlopen with RTLD_LOCAL, only the boundary header), opens it, sends it
// requests and prints each answer on its own line.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "exit_status.h"
#include "history_file.h"
#include "interrupts.h"
#include "options.h"
#include "plugin_library.h"
#include "prompt.h"
#include "request_sender.h"
#include "stderr_watch.h"

namespace {

int Failure(const std::string& message) {
  std::fprintf(stderr, "qorv-host: %s\n", message.c_str());
  return kExitFailure;
}

// Puts /dev/null on each of descriptors 0, 1 and 2 that is closed, so that no
// file opened later (the plugin's log file, a file Python opens) takes its
// place and receives what was meant for standard output. True when standard
// output was closed.
bool OccupyClosedStandardDescriptors() {
  bool outputClosed = false;
  for (int fd = STDIN_FILENO; fd <= STDERR_FILENO; ++fd) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == STDOUT_FILENO) outputClosed = true;
    // The lowest free descriptor is this one: those below it are open.
    const int null = open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      dup2(null, fd);
      close(null);
    }
  }
  return outputClosed;
}

// A session file that cannot be read is found out before the plugin opens.
int CheckSessionFile(const std::string& sessionFile) {
  if (sessionFile.empty() || sessionFile == "-") return kExitSuccess;
  struct stat status;
  if (stat(sessionFile.c_str(), &status) != 0) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(errno));
  }
  if (S_ISDIR(status.st_mode)) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(EISDIR));
  }
  if (access(sessionFile.c_str(), R_OK) != 0) {
    return Failure("cannot read session file '" + sessionFile + "': " + std::strerror(errno));
  }
  return kExitSuccess;
}

// The log directory given to Open: the chosen one, or a temporary one that
// goes at exit, so that a run leaves nothing behind unless asked.
class LogDirectory {
 public:
  explicit LogDirectory(const std::string& chosen) : path_(chosen) {
    if (!path_.empty()) return;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") +
                          "/qorv-host-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = temporary_ = pattern;
  }
  ~LogDirectory() {
    std::error_code ignored;
    if (!temporary_.empty()) std::filesystem::remove_all(temporary_, ignored);
  }
  const std::string& path() const { return path_; }
  // The directory when it is a temporary one, else "".
  const std::string& temporary() const { return temporary_; }

 private:
  std::string path_;
  std::string temporary_;
};

int OpenFailed(const std::string& logDirectory) {
  return Failure("the plugin did not open (log directory '" + logDirectory + "')");
}

int ShowVersion(const Options& options) {
  std::printf("qorv-host %s\n", QORV_VERSION);
  std::fflush(stdout);
  const PluginLibrary library(options.plugin);
  if (library.plugin() == nullptr) return Failure(library.error());
  const LogDirectory logDirectory(options.logDirectory);
  if (!library.plugin()->Open(logDirectory.path().c_str())) {
    library.plugin()->Close();
    return OpenFailed(logDirectory.path());
  }
  const std::string python = EmbeddedPythonVersion(library.plugin());
  library.plugin()->Close();
  std::printf("Python %s (embedded by %s)\n", python.empty() ? "of unknown version" : python.c_str(),
              options.plugin.c_str());
  return std::fflush(stdout) == 0 ? kExitSuccess : kExitFailure;
}

std::string Banner(const Options& options, PluginBase* plugin) {
  const std::string python = EmbeddedPythonVersion(plugin);
  return "qorv-host " QORV_VERSION " with " + options.plugin + " (Python " +
         (python.empty() ? "of unknown version" : python) +
         "): 'help' lists the requests; Ctrl-D, 'exit' or 'quit' leaves.";
}

// The prompt writes to the real standard error, not into the watch's pipe:
// it must reach the terminal as it is typed.
void RunPromptOn(RequestSender* sender, Interrupts* interrupts, const Options& options,
                 PluginBase* plugin, const StderrWatch* watch) {
  std::FILE* terminal = stderr;
  if (watch != nullptr) {
    const int fd = fcntl(watch->RealStderr(), F_DUPFD_CLOEXEC, 3);
    std::FILE* own = fd >= 0 ? fdopen(fd, "w") : nullptr;
    if (own != nullptr) terminal = own;
  }
  RunPrompt(sender, interrupts, {Banner(options, plugin), terminal, HistoryFile::DefaultPath()});
  if (terminal != stderr) std::fclose(terminal);
}

// Opens the plugin, sends the requests, closes it. The order matters: Ctrl-C
// is qorv-host's before Open, so that Python installs no handler of its own;
// the watch of standard error ends before Close, whose own lines need none.
int Run(const Options& options, PluginBase* plugin) {
  const LogDirectory logDirectory(options.logDirectory);
  Interrupts::RemoveOnInterrupt(logDirectory.temporary(), "qorv_python.txt");
  auto interrupts = std::make_unique<Interrupts>(plugin);
  if (!plugin->Open(logDirectory.path().c_str())) {
    interrupts.reset();
    plugin->Close();
    return OpenFailed(logDirectory.path());
  }
  const bool prompt = options.sessionFile == "-" && isatty(STDIN_FILENO);
  std::unique_ptr<StderrWatch> watch;
  if (options.exitStatus || (!options.sessionFile.empty() && !prompt)) {
    watch = StderrWatch::Start();
    if (watch == nullptr) {
      interrupts.reset();
      plugin->Close();
      return Failure(std::string("cannot watch standard error: ") + std::strerror(errno));
    }
  }
  RequestSender sender(plugin, interrupts.get(), watch.get(),
                       {options.echo, options.stopOnFailure});
  if (prompt) {
    RunPromptOn(&sender, interrupts.get(), options, plugin, watch.get());
  } else if (options.sessionFile == "-") {
    SendLines(&sender, stdin, "<stdin>");
  } else if (!options.sessionFile.empty()) {
    std::FILE* input = std::fopen(options.sessionFile.c_str(), "r");
    if (input != nullptr) {
      SendLines(&sender, input, options.sessionFile);
      std::fclose(input);
    }
  } else {
    for (const auto& [function, parameters] : options.requests) {
      if (sender.Finished()) break;
      sender.Send(function, parameters);
    }
  }
  watch.reset();
  interrupts.reset();  // no PyInterrupt may cross Close
  plugin->Close();
  if (sender.outputClosed()) return kExitFailure;
  if (options.exitStatus && sender.failures() > 0) return kExitRequestFailed;
  return kExitSuccess;
}

}  // namespace

int main(int argc, char** argv) {
  const bool outputClosed = OccupyClosedStandardDescriptors();
  // As the Python interpreter program does: a write to a closed pipe is an
  // error for the code that writes, not the end of the process.
  std::signal(SIGPIPE, SIG_IGN);
  if (outputClosed) return Failure("standard output is closed");

  Options options;
  options.plugin = DefaultPluginPath();
  const int status = ParseArguments(argc, argv, &options);
  if (status >= 0) return status;

  if (!options.directory.empty() && chdir(options.directory.c_str()) != 0) {
    return Failure("cannot change to '" + options.directory + "': " + std::strerror(errno));
  }
  if (options.showVersion) return ShowVersion(options);
  if (const int bad = CheckSessionFile(options.sessionFile)) return bad;

  const PluginLibrary library(options.plugin);
  if (library.plugin() == nullptr) return Failure(library.error());
  return Run(options, library.plugin());
}
