// PythonPlugin: where the settings, the registry, the interpreter and the
// dispatcher meet. Open builds the run in order and Close takes it down in
// reverse; each request goes host -> HandleRequest -> dispatcher -> one
// handler below -> the interpreter and the registry -> the dispatcher, which
// writes the answer into the host's buffer.
#include "plugin/python_plugin.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "config/path_list.h"
#include "config/script_files.h"
#include "python/errors.h"

namespace {

constexpr const char kLogFileName[] = "qorv_python.txt";
constexpr const char kSettingsFileName[] = "qorv_python.ini";

// Compared in this order; adding a request is one row.
constexpr RequestRow<PythonPlugin> kRequests[] = {
    {"PyCallObject", true, &PythonPlugin::HandleCallObject},
    {"PyRunSimpleString", false, &PythonPlugin::HandleRunString},
    {"PyRunSimpleFile", false, &PythonPlugin::HandleRunFile},
    {"PyCreateObject", true, &PythonPlugin::HandleCreateObject},
    {"PyRemoveObject", false, &PythonPlugin::HandleRemoveObject},
    {"PyCallObjectMethod", true, &PythonPlugin::HandleCallObjectMethod},
};

// How much of a function name, parameter text or answer a log line shows.
constexpr std::size_t kLoggedLength = 200;

// The log file in `directory`; with no directory, in the current one.
std::string LogFilePath(const char* directory) {
  if (directory == nullptr || *directory == '\0') return kLogFileName;
  std::unique_ptr<char, decltype(&std::free)> path(
      JoinPath(directory, kLogFileName, kPathSeparator), &std::free);
  return path != nullptr ? std::string(path.get()) : std::string();
}

// The length of the well-formed UTF-8 sequence at text[i] (not a control
// character), or 0.
std::size_t Utf8Length(const std::string& text, std::size_t i) {
  const auto byte = [&](std::size_t at) {
    return at < text.size() ? static_cast<unsigned char>(text[at]) : 0u;
  };
  const unsigned c = byte(i);
  if (c >= 0x20 && c < 0x7F) return 1;
  // Lead byte, its length, and the range of the byte after it (which rules
  // out overlong forms and surrogates).
  struct Lead {
    unsigned first, last, length, low, high;
  };
  static constexpr Lead kLeads[] = {{0xC2, 0xDF, 2, 0x80, 0xBF}, {0xE0, 0xE0, 3, 0xA0, 0xBF},
                                    {0xE1, 0xEC, 3, 0x80, 0xBF}, {0xED, 0xED, 3, 0x80, 0x9F},
                                    {0xEE, 0xEF, 3, 0x80, 0xBF}, {0xF0, 0xF0, 4, 0x90, 0xBF},
                                    {0xF1, 0xF3, 4, 0x80, 0xBF}, {0xF4, 0xF4, 4, 0x80, 0x8F}};
  for (const Lead& lead : kLeads) {
    if (c < lead.first || c > lead.last) continue;
    if (byte(i + 1) < lead.low || byte(i + 1) > lead.high) return 0;
    for (unsigned k = 2; k < lead.length; ++k) {
      if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
    }
    return lead.length;
  }
  return 0;
}

// `text` on one line of well-formed UTF-8: control characters and bytes that
// are no part of a UTF-8 character as \xNN, cut to about `limit` bytes.
std::string OneLine(const std::string& text, std::size_t limit) {
  std::string line;
  std::size_t i = 0;
  while (i < text.size() && line.size() < limit) {
    if (const std::size_t length = Utf8Length(text, i)) {
      line.append(text, i, length);
      i += length;
      continue;
    }
    char escaped[8];
    std::snprintf(escaped, sizeof escaped, "\\x%02x", static_cast<unsigned char>(text[i++]));
    line += escaped;
  }
  if (i < text.size()) line += "...";
  return line;
}

// The tag that a call request lacks, or null when it has PYMOD and PYOBJ.
const char* MissingCallTag(const RequestArgs& args) {
  if (args.module == nullptr) return "PYMOD is missing";
  if (args.name == nullptr) return "PYOBJ is missing";
  return nullptr;
}

void CopyToLog(void* plugin, const std::string& text) {
  static_cast<PluginBase*>(plugin)->WriteLog("%s", text.c_str());
}

}  // namespace

PythonPlugin::PythonPlugin()
    : objectRegistry(&Interpreter::ReleaseObject),
      dispatcher_(kRequests, kQorvParameterBufferSize) {}

// Runs the whole shutdown when the library is unloaded without a Close from
// the host; after the host's Close it finds nothing left to do.
PythonPlugin::~PythonPlugin() { PythonPlugin::Close(); }

bool PythonPlugin::Open(const char* directory) {
  try {
    // A second Open without a Close first closes the run that is open, so
    // that every Open starts from an empty registry and a failed one serves
    // nothing.
    if (InterpreterRunning()) Close();
    const std::string path = LogFilePath(directory);
    if (!PluginBase::Open(path.c_str())) {
      ReportFailure("cannot create the log file '" + path + "': " + std::strerror(errno));
      return false;
    }
    LoadSettings();
    if (settings.log != LogDetail::None) CopyFailuresTo(&CopyToLog, this);
    if (settings.unknownLogValue() != nullptr) {
      ReportFailure(std::string("unknown value '") + settings.unknownLogValue() +
                    "' of the setting log (none, errors or requests); nothing is logged");
    }
    std::string reason;
    if (!interpreter_.Start(&reason)) {
      ReportFailure("cannot start Python: " + reason);
      return false;
    }
    objectRegistry.ResetCounter();
    return true;
  } catch (...) {
    return false;
  }
}

bool PythonPlugin::Close() {
  try {
    if (interpreter_.Running()) {
      {
        // Held objects go first, in id order, while Python still runs, so
        // that their __del__ and close methods run.
        Interpreter::Lock python(interpreter_);
        answerOwner_.Reset();
        ClearObjects();
      }
      interpreter_.Stop();
    }
    ClearObjects();
    settings.Release();
  } catch (...) {
    // Close never fails; what could not be released stays behind.
  }
  CopyFailuresTo(nullptr, nullptr);
  return PluginBase::Close();
}

bool PythonPlugin::InterpreterRunning() const { return interpreter_.Running(); }

const char* PythonPlugin::HandleRequest(const char* /*hostArgument*/, const char* functionName,
                                        char* parameters) {
  if (functionName == nullptr || parameters == nullptr || !interpreter_.Running()) {
    return dispatcher_.Refuse(parameters);
  }
  Interpreter::Lock python(interpreter_);
  answerOwner_.Reset();
  return dispatcher_.Dispatch(*this, functionName, parameters);
}

bool PythonPlugin::LoadSettings() {
  ReadPluginSettings(kSettingsFileName, kPathSeparator, &settings);
  return true;
}

// --- The registry ---------------------------------------------------------

const char* PythonPlugin::RegisterObject(PythonObject object, const char* id) {
  return objectRegistry.Register(object, id);
}

std::string PythonPlugin::NewObjectId() { return objectRegistry.NewObjectId(); }

PythonObject PythonPlugin::FindObject(const char* id) const {
  return id == nullptr ? nullptr : objectRegistry.Find(id);
}

const char* PythonPlugin::RemoveObject(const char* text) {
  std::string_view id(text);
  // Trailing spaces are cut, unless nothing else would be left.
  const std::size_t last = id.find_last_not_of(' ');
  if (last != std::string_view::npos) id = id.substr(0, last + 1);
  return objectRegistry.Remove(id) ? "TRUE" : "FALSE";
}

void PythonPlugin::ClearObjects() { objectRegistry.Clear(interpreter_.Running()); }

// --- The interpreter ------------------------------------------------------

PyRef PythonPlugin::CallFunction(const char* module, const char* name, char** params,
                                 std::int32_t paramCount) {
  return interpreter_.CallFunction(module, name, params, paramCount);
}

PyRef PythonPlugin::CallAttribute(PythonObject object, const char* name, char** params,
                                  std::int32_t paramCount) {
  return interpreter_.CallAttribute(PyBorrowed(object), name, params, paramCount);
}

// --- The requests ---------------------------------------------------------

const char* PythonPlugin::HandleCallObject(const Request& request) {
  const RequestArgs& args = *request.args;
  if (const char* missing = MissingCallTag(args)) {
    RequestFailed(request, missing);
    return nullptr;
  }
  return AnswerOf(request, CallFunction(args.module, args.name, args.params, args.paramCount));
}

const char* PythonPlugin::HandleRunString(const Request& request) {
  return interpreter_.RunSource(request.text) ? "TRUE" : "FALSE";
}

const char* PythonPlugin::HandleRunFile(const Request& request) {
  std::string source;
  const std::string path =
      FindScriptFile(settings.scriptDirectories, settings.scriptDirectoryCount, request.text,
                     kPathSeparator, &source);
  if (path.empty()) {
    std::string searched;
    for (std::int32_t i = 0; i < settings.scriptDirectoryCount; ++i) {
      searched += std::string(i == 0 ? "" : ", ") + "'" + settings.scriptDirectories[i] + "'";
    }
    RequestFailed(request, settings.scriptDirectoryCount == 0
                               ? "no script directories are set (scriptdir)"
                               : "no readable script '" + std::string(request.text) +
                                     "' in the script directories " + searched);
    return "FALSE";
  }
  std::printf("%s\n", path.c_str());
  std::fflush(stdout);  // the path comes out before anything the script prints
  return interpreter_.RunScript(source, path.c_str()) ? "TRUE" : "FALSE";
}

const char* PythonPlugin::HandleCreateObject(const Request& request) {
  const RequestArgs& args = *request.args;
  if (const char* missing = MissingCallTag(args)) {
    RequestFailed(request, missing);
    return nullptr;
  }
  PyRef object = CallFunction(args.module, args.name, args.params, args.paramCount);
  if (!object) return nullptr;
  // Any object, None included, is held; the registry takes over the reference.
  return RegisterObject(object.release(), args.objectId);
}

const char* PythonPlugin::HandleRemoveObject(const Request& request) {
  const char* answer = RemoveObject(request.text);
  if (std::strcmp(answer, "FALSE") == 0) {
    RequestFailed(request, "no object is held under the id '" + std::string(request.text) + "'");
  }
  return answer;
}

const char* PythonPlugin::HandleCallObjectMethod(const Request& request) {
  const RequestArgs& args = *request.args;
  // The id of the held object travels in `name`, the PYOBJ tag.
  if (args.name == nullptr || args.method == nullptr) {
    RequestFailed(request, args.name == nullptr ? "PYOBJ (the object id) is missing"
                                                : "PYOMD is missing");
    return nullptr;
  }
  PythonObject held = FindObject(args.name);  // lent for the call; the registry keeps it
  if (held == nullptr) {
    RequestFailed(request, "no object is held under the id '" + std::string(args.name) + "'");
    return nullptr;
  }
  return AnswerOf(request, CallAttribute(held, args.method, args.params, args.paramCount));
}

const char* PythonPlugin::AnswerOf(const Request& request, PyRef result) {
  std::string why;
  if (const char* text = Interpreter::ResultText(result, &answerOwner_, &why)) return text;
  if (!why.empty()) RequestFailed(request, why);
  return nullptr;
}

void PythonPlugin::RequestFailed(const Request& request, const std::string& why) {
  ReportFailure(std::string(request.functionName) + ": " + why);
}

void PythonPlugin::RequestServed(const Request& request, const char* answer) {
  if (settings.log != LogDetail::Requests) return;
  const std::string line = OneLine(request.functionName, kLoggedLength) + " " +
                           OneLine(request.text, kLoggedLength) + " -> " +
                           OneLine(answer != nullptr ? answer : kNoAnswer, kLoggedLength) + "\n";
  WriteLog("%s", line.c_str());
}

void PythonPlugin::ReportFailure(const std::string& line) {
  const std::string oneLine = OneLine(line, 1000);
  if (interpreter_.Running()) {
    Interpreter::Lock python(interpreter_);  // nested while a request runs
    PrintFailure(oneLine);
    return;
  }
  std::fprintf(stderr, "qorv_python: %s\n", oneLine.c_str());
  std::fflush(stderr);
  if (settings.log != LogDetail::None) WriteLog("qorv_python: %s\n", oneLine.c_str());
}
