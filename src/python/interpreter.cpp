#include <cstdlib>
#include <memory>

#if !defined(_WIN32)
#include <dlfcn.h>
#endif

#include "config/path_list.h"
#include "plugin/python_plugin.h"
#include "python/errors.h"
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

}  // namespace

bool PythonPlugin::InterpreterRunning() const { return Py_IsInitialized() != 0; }

bool PythonPlugin::Open(const char* directory) {
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
  return true;
}

bool PythonPlugin::Close() {
  if (Py_IsInitialized()) {
    // Held objects go while the interpreter still runs, so that their
    // __del__ and close run and buffered data reaches its files.
    ClearObjects();
    RunPythonSource("sys.stderr.close()");
    callNames.Clear();
    Py_Finalize();
  }
  ClearObjects();
  ReleaseSettings();
  return PluginBase::Close();
}
