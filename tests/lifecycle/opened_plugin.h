// A plugin of its own for a lifecycle case, in a scratch copy of
// tests/fixtures/python that is also the current directory. Cases run in a
// child process each (RunInChildProcess), so that they may start, stop and
// abandon interpreters as they like.
#ifndef QORV_TESTS_LIFECYCLE_OPENED_PLUGIN_H
#define QORV_TESTS_LIFECYCLE_OPENED_PLUGIN_H

#include <string>

#include "plugin/python_plugin.h"
#include "python/python_compat.h"
#include "support/child_process.h"
#include "support/memory.h"
#include "support/requests.h"
#include "support/temp_dir.h"

// Whether Close shuts the interpreter down (where nothing else keeps it).
constexpr bool kRestartIsSafe = qorv::py::kRestartIsSafe;

class PluginRun {
 public:
  PluginRun();  // the scratch directory, entered
  ~PluginRun();

  // Opens the plugin with the scratch directory as log directory and makes
  // the test modules importable.
  bool Open();
  // One request through HandleRequest; the answer it returned.
  std::string Ask(const std::string& function, const std::string& parameters);
  // Python source run by PyRunSimpleString, which must answer TRUE.
  void Run(const std::string& source);
  // What Python printed to sys.stderr while `body` ran.
  template <typename Body>
  std::string CapturePythonStderr(Body body) {
    Ask("PyCallObject", "PYMOD=tools PYOBJ=start_capture");
    body();
    return Ask("PyCallObject", "PYMOD=tools PYOBJ=captured");
  }

  TempDir dir;
  PythonPlugin plugin;
};

// Whether a Python error is left set (taking Python's lock to look).
bool PythonErrorPending();

#endif  // QORV_TESTS_LIFECYCLE_OPENED_PLUGIN_H
