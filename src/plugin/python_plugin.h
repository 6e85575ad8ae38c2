// The plugin object: PluginBase plus the object registry, the id counter and
// the directory lists read from the settings file. Its operations are defined
// by the folder that owns each concern:
//   plugin/python_plugin.cpp        construction and destruction
//   config/load_settings.cpp        LoadSettings, ReleaseSettings
//   requests/dispatcher.cpp         HandleRequest
//   requests/object_registry.cpp    RegisterObject, NewObjectId, FindObject,
//                                   RemoveObject, ClearObjects
//   python/interpreter.cpp          Open, Close, InterpreterRunning
//   python/calls.cpp                CallFunction, CallAttribute and the call,
//                                   create and method handlers
//   python/run_code.cpp             the code string and script file handlers
#ifndef QORV_PLUGIN_PYTHON_PLUGIN_H
#define QORV_PLUGIN_PYTHON_PLUGIN_H

#include <cstdint>
#include <string>

#include "qorv/plugin_base.h"
#include "requests/object_registry.h"
#include "requests/request_args.h"
#include "python/name_cache.h"

class PythonPlugin : public PluginBase {
 public:
  PythonPlugin();
  ~PythonPlugin() override;

  bool Open(const char* directory) override;
  const char* HandleRequest(const char* hostArgument, const char* functionName,
                            char* parameters) override;
  bool Close() override;

  // True from a successful Open to Close while the interpreter runs;
  // requests are served only then.
  bool InterpreterRunning() const;

  // Reads section "QORV_PYTHON" of "qorv_python.ini" in the current directory
  // into the directory fields. Always true, a missing file included.
  bool LoadSettings();
  // Frees the directory fields and sets them to null and zero.
  void ReleaseSettings();

  // Stores `object` (the registry takes over the reference) under `id`, or
  // under a generated id when `id` is null. An object held under the same id
  // before is released. Returns the id text the registry keeps, valid until
  // the entry is removed.
  const char* RegisterObject(PythonObject object, const char* id);
  // "o_1", "o_2", ... up to "o_30000"; then the lowest "o_N" not held.
  std::string NewObjectId();
  // The object held under exactly `id`, or null.
  PythonObject FindObject(const char* id) const;
  // Handler of "PyRemoveObject": releases the object held under the text
  // (trailing spaces cut). Answers the constant "TRUE" or "FALSE".
  const char* RemoveObject(const char* text);
  // Removes every entry, releasing the objects while the interpreter runs.
  void ClearObjects();

  // Imports `module` and calls its attribute `name` with the params as
  // strings. Returns a new reference to the result, or null when any step
  // fails (the Python error, if any, still set).
  PythonObject CallFunction(const char* module, const char* name, char** params,
                            std::int32_t paramCount);
  // Calls the callable attribute `name` of `object` (lent, not taken over)
  // with the params as strings. Result as for CallFunction.
  PythonObject CallAttribute(PythonObject object, const char* name, char** params,
                             std::int32_t paramCount);

  // Request handlers: each takes the parameter text and returns the answer,
  // or null for no answer. Fresh answers live in `freshAnswer`.
  const char* HandleCallObject(const char* parameters);
  const char* HandleRunString(const char* source);
  const char* HandleRunFile(const char* fileName);
  const char* HandleCreateObject(const char* parameters);
  const char* HandleCallObjectMethod(const char* parameters);

  ObjectRegistry objectRegistry;
  std::int32_t objectCounter = 0;
  char* logDirectory = nullptr;
  char** moduleDirectories = nullptr;
  std::int32_t moduleDirectoryCount = 0;
  char** scriptDirectories = nullptr;
  std::int32_t scriptDirectoryCount = 0;

 private:
  // Set by a successful Open, cleared by Close. Python threads still running
  // at Close keep the interpreter alive, but no request is served then.
  bool interpreterOpen = false;

  // Gives back what the previous request's answer and parameters took beyond
  // the usual.
  void ReclaimRequestMemory();

  // The answer text made for the current request; valid until the next one.
  std::string freshAnswer;
  // The current request's parsed parameters; reused, so parsing allocates
  // nothing once a request of the same size has been seen.
  RequestArgs requestArgs;
  // Python strings of the module and attribute names that calls use.
  NameCache callNames;
};

#endif  // QORV_PLUGIN_PYTHON_PLUGIN_H
