// The plugin object: PluginBase plus the settings, the object registry, the
// interpreter and the dispatcher that routes requests among them. Every
// member is defined in python_plugin.cpp, as a short call into the component
// that does the work.
#ifndef QORV_PLUGIN_PYTHON_PLUGIN_H
#define QORV_PLUGIN_PYTHON_PLUGIN_H

#include <cstdint>
#include <string>

#include "config/plugin_settings.h"
#include "python/interpreter.h"
#include "python/py_ref.h"
#include "qorv/plugin_base.h"
#include "requests/dispatcher.h"
#include "requests/object_registry.h"

class PythonPlugin : public PluginBase {
 public:
  PythonPlugin();
  ~PythonPlugin() override;

  bool Open(const char* directory) override;
  const char* HandleRequest(const char* hostArgument, const char* functionName,
                            char* parameters) override;
  bool Close() override;

  // True from a successful Open to Close; requests are served only then.
  bool InterpreterRunning() const;

  // Reads section "QORV_PYTHON" of "qorv_python.ini" in the current directory
  // into `settings`. Always true, a missing file included.
  bool LoadSettings();

  // The registry's operations: see ObjectRegistry.
  const char* RegisterObject(PythonObject object, const char* id);
  std::string NewObjectId();
  PythonObject FindObject(const char* id) const;
  // Handler of "PyRemoveObject": releases the object held under the text with
  // its trailing spaces cut. Answers the constant "TRUE" or "FALSE".
  const char* RemoveObject(const char* text);
  void ClearObjects();

  // The interpreter's calls: see Interpreter.
  PyRef CallFunction(const char* module, const char* name, char** params, std::int32_t paramCount);
  PyRef CallAttribute(PythonObject object, const char* name, char** params,
                      std::int32_t paramCount);

  // The rows of the dispatch table. Each answers, or returns null for "NONE".
  const char* HandleCallObject(const Request& request);
  const char* HandleRunString(const Request& request);
  const char* HandleRunFile(const Request& request);
  const char* HandleCreateObject(const Request& request);
  const char* HandleRemoveObject(const Request& request);
  const char* HandleCallObjectMethod(const Request& request);

  // What the dispatcher reports: a failure's reason, and each request served.
  void RequestFailed(const Request& request, const std::string& why);
  void RequestServed(const Request& request, const char* answer);

  PluginSettings settings;
  ObjectRegistry objectRegistry;

 private:
  // One line naming what failed: on Python's sys.stderr while a request
  // runs, else on the process's standard error; and in the log file when the
  // settings ask for errors.
  void ReportFailure(const std::string& line);
  // The answer of a call: its result's text, or null with the reason reported.
  const char* AnswerOf(const Request& request, PyRef result);

  Interpreter interpreter_;
  Dispatcher<PythonPlugin> dispatcher_;
  // The object that holds the text of the last request's answer, which the
  // host may read until its next call; released then, with Python's lock.
  PyRef answerOwner_;
};

#endif  // QORV_PLUGIN_PYTHON_PLUGIN_H
