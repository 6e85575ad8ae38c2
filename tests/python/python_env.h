// The one plugin and interpreter that the Python tests share, opened in a
// scratch copy of tests/fixtures/python with its settings file.
#ifndef QORV_TESTS_PYTHON_PYTHON_ENV_H
#define QORV_TESTS_PYTHON_PYTHON_ENV_H

#include <string>

#include "plugin/python_plugin.h"

PythonPlugin& Plugin();
// The scratch directory: modules/, scripts1..3/, qorv_python.ini.
const std::string& Root();
// Close and Open again, with the test modules importable again.
void Reopen();
// Makes tools.py importable in the running interpreter.
void AddModulePath();

struct Answer {
  std::string text;    // what HandleRequest returned
  std::string buffer;  // what it left in the host's buffer
};

// Sends one request through HandleRequest with a buffer of the documented size.
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
