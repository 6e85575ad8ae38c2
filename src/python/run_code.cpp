#include "python/run_code.h"

#include <Python.h>

#include "python/errors.h"
#include "python/python_compat.h"
#include "python/python_line.h"

namespace {

// The namespace of __main__, or null with an error set.
PyBorrowed MainNamespace() {
  PyBorrowed main(PyImport_AddModule("__main__"));
  return main ? PyBorrowed(PyModule_GetDict(main.get())) : PyBorrowed();
}

// The run's result decides the answer. The error is printed without
// PyErr_Print, which would end the whole host process on SystemExit.
bool FinishRun(PyRef result) {
  const bool succeeded = static_cast<bool>(result);
  result.Reset();
  if (!succeeded) ReportPythonError();
  FlushPythonStreams();
  return succeeded;
}

}  // namespace

bool RunSource(const char* source) {
  PyBorrowed globals = MainNamespace();
  if (!globals) return FinishRun(PyRef());
  return FinishRun(
      PyRef::Steal(PyRun_String(source, Py_file_input, globals.get(), globals.get())));
}

bool RunScript(const std::string& source, const char* path) {
  PyBorrowed globals = MainNamespace();
  if (!globals) return FinishRun(PyRef());
  // As the interpreter does for a main script: __file__ names it while it
  // runs, unless the main module already has one.
  bool setFile = false;
  if (PyDict_GetItemString(globals.get(), "__file__") == nullptr) {
    PyRef name = PyRef::Steal(qorv::py::TextFromBytes(path));
    setFile = name && PyDict_SetItemString(globals.get(), "__file__", name.get()) == 0;
    PyErr_Clear();
  }
  PyRef code;
  if (source.find('\0') != std::string::npos) {
    PyErr_SetString(PyExc_SyntaxError, "source code cannot contain null bytes");
  } else {
    code = PyRef::Steal(qorv::py::CompileScript(source, path));
  }
  PyRef result;
  if (code) result = PyRef::Steal(qorv::py::EvalCode(code.get(), globals.get()));
  if (setFile) {
    PendingError pending;  // the run's error outlives the removal of __file__
    if (PyDict_DelItemString(globals.get(), "__file__") != 0) PyErr_Clear();
  }
  return FinishRun(std::move(result));
}
