// Code strings and script files run in the interpreter's main module, along
// one path: run, then report the error (if any) and answer.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>

#include "config/path_list.h"
#include "plugin/python_plugin.h"
#include "python/errors.h"
#include "python/py_ref.h"
#include "python/python_compat.h"
#include "python/run_code.h"

namespace {

// The namespace of __main__ (borrowed), or null with an error set.
PyObject* MainNamespace() {
  PyObject* main = PyImport_AddModule("__main__");  // borrowed
  return main != nullptr ? PyModule_GetDict(main) : nullptr;
}

// The run's result decides the answer. The error is printed without
// PyErr_Print, which would end the whole host process on SystemExit.
bool FinishRun(PyObject* result) {
  const bool succeeded = result != nullptr;
  Py_XDECREF(result);
  if (!succeeded) ReportPythonError();
  FlushPythonStreams();
  return succeeded;
}

bool RunSource(const char* source) {
  PyObject* globals = MainNamespace();
  if (globals == nullptr) return FinishRun(nullptr);
  return FinishRun(PyRun_String(source, Py_file_input, globals, globals));
}

bool RunScript(std::FILE* file, const char* path) {
  PyObject* globals = MainNamespace();
  if (globals == nullptr) return FinishRun(nullptr);
  // As the interpreter does for a main script: __file__ names it while it
  // runs, unless the main module already has one.
  bool setFile = false;
  if (PyDict_GetItemString(globals, "__file__") == nullptr) {
    PyRef name = PyRef::Steal(qorv::py::TextFromBytes(path));
    setFile = name && PyDict_SetItemString(globals, "__file__", name.get()) == 0;
    PyErr_Clear();
  }
  PyObject* result = PyRun_File(file, path, Py_file_input, globals, globals);
  if (setFile) {
    // Keep the run's error pending while __file__ is removed.
    PyObject *type, *value, *traceback;
    PyErr_Fetch(&type, &value, &traceback);
    if (PyDict_DelItemString(globals, "__file__") != 0) PyErr_Clear();
    PyErr_Restore(type, value, traceback);
  }
  return FinishRun(result);
}

// Opens a script for reading; anything but a regular file counts as not
// there: a directory opens on POSIX but cannot be read, and opening a FIFO
// would block the host until some writer came.
std::FILE* OpenScript(const char* path) {
  struct stat status;
  if (stat(path, &status) != 0 || !S_ISREG(status.st_mode)) return nullptr;
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return nullptr;
  if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
    std::fclose(file);
    return nullptr;
  }
  return file;
}

}  // namespace

bool RunPythonSource(const char* source) { return RunSource(source); }

const char* PythonPlugin::HandleRunString(const char* source) {
  return RunSource(source) ? "TRUE" : "FALSE";
}

const char* PythonPlugin::HandleRunFile(const char* fileName) {
  // The first script directory, in list order, that holds the file wins.
  for (std::int32_t i = 0; i < scriptDirectoryCount; ++i) {
    char* path = JoinPath(scriptDirectories[i], fileName, kPathSeparator);
    if (path == nullptr) continue;
    std::FILE* file = OpenScript(path);
    if (file == nullptr) {
      std::free(path);
      continue;
    }
    std::printf("%s\n", path);
    std::fflush(stdout);  // the path comes out before anything the script prints
    const bool succeeded = RunScript(file, path);
    std::free(path);
    std::fclose(file);
    return succeeded ? "TRUE" : "FALSE";
  }
  return "FALSE";
}
