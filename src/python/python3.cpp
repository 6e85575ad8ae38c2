// Python 3: started through PyConfig.
#include <Python.h>

#include "python/py_ref.h"
#include "python/python_compat.h"
#include "python/python_line.h"

namespace qorv::py {

namespace {

std::string StatusText(const PyStatus& status) {
  std::string text = status.func != nullptr ? std::string(status.func) + ": " : std::string();
  return text + (status.err_msg != nullptr ? status.err_msg : "failed");
}

}  // namespace

bool StartInterpreter(const StartOptions& options, std::string* reason) {
  PyPreConfig preconfig;
  PyPreConfig_InitPythonConfig(&preconfig);
  preconfig.configure_locale = 0;
  preconfig.parse_argv = 0;
  PyStatus status = Py_PreInitialize(&preconfig);
  if (PyStatus_Exception(status)) {
    *reason = StatusText(status);
    return false;
  }
  PyConfig config;
  PyConfig_InitPythonConfig(&config);
  config.install_signal_handlers = 0;
  config.configure_c_stdio = 0;
  config.parse_argv = 0;
  if (!options.program.empty()) {
    status = PyConfig_SetBytesString(&config, &config.program_name, options.program.c_str());
  }
  if (!PyStatus_Exception(status)) status = Py_InitializeFromConfig(&config);
  PyConfig_Clear(&config);
  if (PyStatus_Exception(status)) {
    *reason = StatusText(status);
    return false;
  }
  return true;
}

bool RunExitHandlers() {
  PyRef atexit = PyRef::Steal(PyImport_ImportModule("atexit"));
  return atexit && PyRef::Steal(CallMethodNoArgs(atexit.get(), "_run_exitfuncs"));
}

PyObject* CompileScript(const std::string& source, const char* path) {
  // The compiler reads a coding declaration and a byte-order mark as it does
  // in a file.
  return Py_CompileStringExFlags(source.c_str(), path, Py_file_input, nullptr, -1);
}

// A Python 3 module leaves its namespace as it is when it goes.
void DetachNamespace(PyObject*) {}

}  // namespace qorv::py
