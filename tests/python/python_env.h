// The one plugin and interpreter that the Python tests share, opened once in
// a scratch copy of tests/fixtures/python with its settings file, and never
// closed before the end: cases that close or reopen the plugin belong to
// lifecycle_test, where each runs in a process of its own.
#ifndef QORV_TESTS_PYTHON_PYTHON_ENV_H
#define QORV_TESTS_PYTHON_PYTHON_ENV_H

#include <string>

#include "plugin/python_plugin.h"
#include "support/requests.h"

PythonPlugin& Plugin();
// The scratch directory: modules/, scripts1..3/, qorv_python.ini.
const std::string& Root();

// Whether a Python error is left set on this thread (taking Python's lock to look).
bool PythonErrorPending();

// Sends one request to the shared plugin (see support/requests.h).
Answer Send(const std::string& function, const std::string& parameters);
// The returned answer alone.
std::string Ask(const std::string& function, const std::string& parameters);

// What Python printed to sys.stderr while `body` ran.
template <typename Body>
std::string CapturePythonStderr(Body body) {
  Ask("PyCallObject", "PYMOD=tools PYOBJ=start_capture");
  body();
  return Ask("PyCallObject", "PYMOD=tools PYOBJ=captured");
}

#endif  // QORV_TESTS_PYTHON_PYTHON_ENV_H
