#include "plugin/session.h"

#include <cstdio>
#include <cstring>
#include <string_view>

#include "config/path_list.h"
#include "config/script_files.h"
#include "plugin/log_line.h"
#include "python/main_module.h"
#include "python/python_line.h"
#include "python/run_code.h"
#include "qorv/plugin_base.h"
#include "requests/hot_path.h"

namespace {

// Compared in this order; adding a request is one row.
constexpr RequestRow<Session> kRequests[] = {
    {"PyCallObject", true, false, &Session::HandleCallObject},
    {"PyRunSimpleString", false, false, &Session::HandleRunString},
    {"PyRunSimpleFile", false, false, &Session::HandleRunFile},
    {"PyCreateObject", true, false, &Session::HandleCreateObject},
    {"PyRemoveObject", false, false, &Session::HandleRemoveObject},
    {"PyCallObjectMethod", true, false, &Session::HandleCallObjectMethod},
    {"PyInterrupt", false, true, &Session::HandleInterrupt},
};

const Dispatcher<Session> kDispatcher(kRequests, kQorvParameterBufferSize);

// How deep Python code may nest requests (a request whose code calls the
// plugin again): each level takes stack of the host's thread.
constexpr int kMaxNesting = 32;

// How much of a function name, parameter text or answer a log line shows.
constexpr std::size_t kLoggedLength = 200;

// The tag that a call request lacks, or null when it has PYMOD and PYOBJ.
const char* MissingCallTag(const RequestArgs& args) {
  if (args.module == nullptr) return "PYMOD is missing";
  if (args.name == nullptr) return "PYOBJ is missing";
  return nullptr;
}

}  // namespace

Session::Session(Runtime& runtime, PluginSettings settings, Log log)
    : runtime_(runtime),
      settings_(std::move(settings)),
      log_(log),
      registry_(&ReleaseReference),
      watch_(runtime) {}

Session::~Session() { End(); }

const Session::Row* Session::FindRequest(const char* functionName) {
  return kDispatcher.Find(functionName);
}

const char* Session::Refuse(char* parameters) { return kDispatcher.Refuse(parameters); }

bool Session::Start(std::string* reason) {
  std::string why;
  if (!runtime_.Start(settings_.venv, &why)) {
    *reason = "cannot start Python: " + why;
    return false;
  }
  const Runtime::Lock python(runtime_);
  started_ = true;
  if (settings_.log != LogDetail::None) CopyFailuresTo(log_.write, log_.context);
  record_.Start(runtime_.threads(), runtime_.support(), settings_.pythonPath,
                settings_.log != LogDetail::None);
  if (!PrepareMainModule()) {
    *reason = "Python cannot import sys";
    return false;
  }
  watch_.SetTimeLimit(settings_.timeoutSeconds);
  registry_.ResetCounter();
  return true;
}

void Session::End() {
  if (!started_) return;
  started_ = false;
  watch_.Stop();
  bool shutDown = false;
  {
    const Runtime::Lock python(runtime_);
    // Held objects go first, in id order, while Python still runs, so that
    // their __del__ and close methods run.
    registry_.Clear(true);
    calls_.Clear();
    // The run's at-exit hooks run now. Where the interpreter lives on, so do
    // the modules that hold pools and logging handlers: their hooks, which
    // would end those for good, wait for the interpreter's own end.
    PyRef setAside;
    if (!runtime_.MayShutDown()) {
      setAside = runtime_.support().Call("_set_aside_interpreter_exit_hooks");
      if (!setAside) ReportPythonError();
    }
    if (!qorv::py::RunExitHandlers()) ReportPythonError();
    if (setAside && !runtime_.support().Call("_restore_interpreter_exit_hooks", setAside.borrowed())) {
      ReportPythonError();
    }
    FlushPythonStreams();
    // This run's namespace goes now, and with it the thread pools that only
    // the run held, whose idle workers then end.
    RenewMainModule(runtime_.mainTemplate());
    shutDown = runtime_.MayShutDown();
    if (shutDown) {
      if (!runtime_.support().Call("_prepare_threading_for_shutdown")) ReportPythonError();
    }
    const bool threadsEnded = record_.WaitForThreads(runtime_.threads(), runtime_.support(), shutDown);
    if (!threadsEnded) {
      ReportFailure("Python threads still running at Close; they go on, and the interpreter is kept");
    }
    shutDown = shutDown && threadsEnded;
    FlushPythonStreams();
    record_.Undo();
    CopyFailuresTo(nullptr, nullptr);
  }
  if (shutDown) runtime_.ShutDown();
}

QORV_HOT_PATH(05)
const char* Session::Serve(const Row* row, HostThread& thread, const char* functionName,
                           char* parameters) {
  const bool tooDeep = thread.depth() >= kMaxNesting;
  CallContext* call = tooDeep ? nullptr : thread.Enter();
  const Runtime::Lock python(runtime_);
  if (call == nullptr) {
    ReportFailure(std::string(functionName) + ": " +
                  (tooDeep ? "requests nested more than " + std::to_string(kMaxNesting) + " deep"
                           : std::string("no memory for the request")));
    return Refuse(parameters);
  }
  const bool outermost = thread.depth() == 1;
  if (outermost) watch_.Began(python);
  const char* answer = kDispatcher.Dispatch(*this, row, functionName, parameters, call->args, call->answer);
  if (outermost) {
    double seconds = 0;
    const char* stopped = watch_.Ended(&seconds);
    if (stopped != nullptr && TakeStopSeen()) {
      char line[64];
      if (seconds >= 0) {
        std::snprintf(line, sizeof line, ": stopped after %.1f s (%s)", seconds, stopped);
      } else {
        std::snprintf(line, sizeof line, ": stopped (%s)", stopped);
      }
      ReportFailure(functionName + std::string(line));
    }
    record_.Check();
  } else {
    watch_.NestedEnded();
  }
  thread.Leave();
  return answer;
}

QORV_HOT_PATH(37)
const char* Session::ServeAtOnce(const Row& row, HostThread& thread, const char* functionName,
                                 char* parameters) {
  CallContext* call = thread.Enter();
  if (call == nullptr) return Refuse(parameters);
  const char* answer = kDispatcher.Dispatch(*this, &row, functionName, parameters, call->args, call->answer);
  thread.Leave();
  return answer;
}

// --- The requests ---------------------------------------------------------

QORV_HOT_PATH(17)
const char* Session::HandleCallObject(const Request& request) {
  const RequestArgs& args = *request.args;
  if (const char* missing = MissingCallTag(args)) {
    RequestFailed(request, missing);
    return nullptr;
  }
  const unsigned long printed = PrintedErrorCount();
  return AnswerOf(request, calls_.CallFunction({args.module, args.moduleLength}, {args.name, args.nameLength}, args.params,
                                                   args.paramCount),
                  printed);
}

const char* Session::HandleRunString(const Request& request) {
  return RunSource(request.text) ? "TRUE" : "FALSE";
}

const char* Session::HandleRunFile(const Request& request) {
  std::string source;
  const std::string path = FindScriptFile(settings_.scriptDirectories, request.text, kPathSeparator, &source);
  if (path.empty()) {
    if (settings_.scriptDirectories.empty()) {
      RequestFailed(request, "no script directories are set (scriptdir) " +
                                 (settings_.fileRead
                                      ? "in the settings file '" + settings_.file + "'"
                                      : "as no settings file was read at '" + settings_.file + "'"));
      return "FALSE";
    }
    std::string searched;
    for (const std::string& directory : settings_.scriptDirectories) {
      searched += (searched.empty() ? "'" : ", '") + directory + "'";
    }
    RequestFailed(request, "no readable script '" + std::string(request.text) +
                               "' in the script directories " + searched);
    return "FALSE";
  }
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);  // the path comes out before anything the script prints
  return RunScript(source, path.c_str()) ? "TRUE" : "FALSE";
}

QORV_HOT_PATH(34)
const char* Session::HandleCreateObject(const Request& request) {
  const RequestArgs& args = *request.args;
  if (const char* missing = MissingCallTag(args)) {
    RequestFailed(request, missing);
    return nullptr;
  }
  const unsigned long printed = PrintedErrorCount();
  PyRef object = calls_.CallFunction({args.module, args.moduleLength}, {args.name, args.nameLength},
                                     args.params, args.paramCount);
  if (!object) {
    SumUpFailedCall(request, printed);
    return nullptr;
  }
  // Any object, None included, is held; the registry takes over the
  // reference. The answer is a copy of the id: another thread may remove the
  // object before the host has read it.
  request.answer->Assign(registry_.Register(object.release(), args.objectId));
  return request.answer->c_str();
}

const char* Session::HandleRemoveObject(const Request& request) {
  std::string_view id(request.text);
  // Trailing spaces are cut, unless nothing else would be left.
  const std::size_t last = id.find_last_not_of(' ');
  if (last != std::string_view::npos) id = id.substr(0, last + 1);
  if (registry_.Remove(id)) return "TRUE";
  RequestFailed(request, "no object is held under the id '" + std::string(request.text) + "'");
  return "FALSE";
}

QORV_HOT_PATH(30)
const char* Session::HandleCallObjectMethod(const Request& request) {
  const RequestArgs& args = *request.args;
  // The id of the held object travels in `name`, the PYOBJ tag.
  if (args.name == nullptr || args.method == nullptr) {
    RequestFailed(request, args.name == nullptr ? "PYOBJ (the object id) is missing"
                                                : "PYOMD is missing");
    return nullptr;
  }
  // Held for the call with a reference of its own: the call may remove it.
  PyRef held = PyRef::Borrow(PyBorrowed(registry_.Find(args.name)));
  if (!held) {
    RequestFailed(request, "no object is held under the id '" + std::string(args.name) + "'");
    return nullptr;
  }
  const unsigned long printed = PrintedErrorCount();
  return AnswerOf(request, calls_.CallAttribute(held.borrowed(), {args.method, args.methodLength}, args.params,
                                                    args.paramCount),
                  printed);
}

const char* Session::HandleInterrupt(const Request& /*request*/) {
  return watch_.Interrupt() ? "TRUE" : "FALSE";
}

QORV_HOT_PATH(21)
const char* Session::AnswerOf(const Request& request, PyRef result, unsigned long printedBefore) {
  if (!result) {
    SumUpFailedCall(request, printedBefore);
    return nullptr;
  }
  PyRef owner;
  std::size_t length = 0;
  std::string why;
  if (const char* text = ResultText(result, &owner, &length, &why)) {
    request.answer->Assign(text, length);
    return request.answer->c_str();
  }
  if (!why.empty()) RequestFailed(request, why);
  return nullptr;
}

// A call that raised answers NONE, as a procedure that returns None does: a
// line after the traceback says that this one failed.
void Session::SumUpFailedCall(const Request& request, unsigned long printedBefore) {
  if (PrintedErrorCount() == printedBefore) return;
  RequestFailed(request, "failed with " + LastPrintedErrorType() + " (its traceback is above)");
}

void Session::RequestFailed(const Request& request, const std::string& why) {
  ReportFailure(std::string(request.functionName) + ": " + why);
}

QORV_HOT_PATH(23)
void Session::RequestServed(const Request& request, const char* answer) {
  if (settings_.log != LogDetail::Requests || log_.write == nullptr) return;
  const std::string line = OneLine(request.functionName, kLoggedLength) + " " +
                           OneLine(request.text, kLoggedLength) + " -> " +
                           OneLine(answer != nullptr ? answer : kNoAnswer, kLoggedLength) + "\n";
  log_.write(log_.context, line.data(), line.size());
}

void Session::ReportFailure(const std::string& line) { PrintFailure(OneLine(line, 1000)); }
