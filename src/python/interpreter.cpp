// Open and Close: the log file, the settings and the interpreter's life.
#include <cstdlib>
#include <memory>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "config/path_list.h"
#include "plugin/python_plugin.h"
#include "python/errors.h"
#include "python/py_ref.h"
#include "python/python_compat.h"
#include "python/run_code.h"

namespace {

constexpr const char kLogFileName[] = "qorv_python.txt";

// A host that loads the plugin with RTLD_LOCAL hides libpython's symbols from
// Python's own extension modules (math, _json, datetime, ...), which then fail
// to import with "undefined symbol". Promoting the already loaded libpython
// to global scope fixes that, and keeps it loaded after the plugin is
// unloaded, so that a reloaded plugin starts Python on the same library.
void MakePythonSymbolsGlobal() {
#if !defined(_WIN32)
  static bool done = false;
  if (done) return;
  done = true;
  Dl_info info;
  if (dladdr(reinterpret_cast<void*>(&Py_InitializeEx), &info) != 0 && info.dli_fname != nullptr) {
    dlopen(info.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_GLOBAL);  // never closed, on purpose
  }
#endif
}

// How long Close waits for threads that Python code started.
constexpr double kThreadWaitSeconds = 2.0;

// Joins every thread that Python code started through threading (daemon or
// not), for at most `timeout` seconds in all. The joins release the global
// lock, so the threads can run meanwhile.
const char kWaitForThreads[] =
    "import sys, time\n"
    "threading = sys.modules.get('threading')\n"
    "def running():\n"
    "    if threading is None:\n"
    "        return []\n"
    "    current = threading.current_thread()\n"
    "    return [t for t in threading.enumerate() if t is not current and t.is_alive()]\n"
    "deadline = time.time() + timeout\n"
    "for thread in running():\n"
    "    thread.join(max(0.0, deadline - time.time()))\n"
    "left_running = len(running())\n";

// True when no thread started by Python code is left running. Finalising
// while one runs is not safe: Py_Finalize waits forever for a non-daemon
// thread that does not end, and a daemon thread that wakes up after the
// interpreter is gone (or re-initialised by the next Open) crashes the host.
bool PythonThreadsEnded() {
  PyRef scope = PyRef::Steal(PyDict_New());
  PyRef timeout = PyRef::Steal(PyFloat_FromDouble(kThreadWaitSeconds));
  if (!scope || !timeout || PyDict_SetItemString(scope.get(), "timeout", timeout.get()) != 0 ||
      PyDict_SetItemString(scope.get(), "__builtins__", PyEval_GetBuiltins()) != 0) {
    ReportPythonError();
    return false;
  }
  PyRef ran = PyRef::Steal(PyRun_String(kWaitForThreads, Py_file_input, scope.get(), scope.get()));
  PyObject* left = ran ? PyDict_GetItemString(scope.get(), "left_running") : nullptr;  // borrowed
  if (left == nullptr) {
    ReportPythonError();
    return false;
  }
  return PyObject_IsTrue(left) == 0;
}

}  // namespace

bool PythonPlugin::InterpreterRunning() const { return interpreterOpen && Py_IsInitialized() != 0; }

bool PythonPlugin::Open(const char* directory) {
  // A second Open without a Close first closes the run that is open, so that
  // every Open starts from an empty registry and a failed one serves nothing.
  if (interpreterOpen) Close();
  std::unique_ptr<char, decltype(&std::free)> path(
      JoinPath(directory != nullptr ? directory : "", kLogFileName, kPathSeparator), &std::free);
  if (path == nullptr || !PluginBase::Open(path.get())) return false;

  ReleaseSettings();
  LoadSettings();

  if (!Py_IsInitialized()) {
    MakePythonSymbolsGlobal();
    // 0: no signal handlers; the host keeps its own (Ctrl-C, SIGPIPE).
    Py_InitializeEx(0);
    if (!Py_IsInitialized()) return false;
    qorv::py::SetEmptyArgv();
  }
  RunPythonSource("import sys");
  objectCounter = 0;
  interpreterOpen = true;
  return true;
}

bool PythonPlugin::Close() {
  if (InterpreterRunning()) {
    // Held objects go while the interpreter still runs, so that their
    // __del__ and close run and buffered data reaches its files.
    ClearObjects();
    interpreterOpen = false;
    callNames.Clear();
    if (PythonThreadsEnded()) {
      RunPythonSource("sys.stderr.close()");
      Py_Finalize();
    } else {
      // The interpreter stays as it is, threads and all, so that Close
      // neither hangs nor leaves a crash behind; requests are refused from
      // now on, and the next Open carries on with this interpreter.
      PySys_WriteStderr("qorv_python: Python threads still running at Close; "
                        "the interpreter is left running\n");
      FlushPythonStreams();
    }
  }
  interpreterOpen = false;
  ClearObjects();
  ReleaseSettings();
  return PluginBase::Close();
}
