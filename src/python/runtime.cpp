#include "python/runtime.h"

#include <Python.h>

#include <cstring>
#include <filesystem>

#include "config/virtual_env.h"
#include "python/errors.h"
#include "python/python_compat.h"
#include "python/python_library.h"
#include "python/python_line.h"
#include "python/signal_record.h"

#define QORV_TEXT(x) #x
#define QORV_VERSION_TEXT(major, minor) QORV_TEXT(major) "." QORV_TEXT(minor)
#define PY_MAJOR_MINOR_TEXT QORV_VERSION_TEXT(PY_MAJOR_VERSION, PY_MINOR_VERSION)

namespace {

// Namespace-scope objects here have no destructors: the plugin object, whose
// destructor ends a run, may outlive them at the library's unload.
constexpr const char kVersion[] = PY_MAJOR_MINOR_TEXT;

// Extension modules from shared libraries that give back what they took
// across a shut-down and a new start on Python 3.10 and 3.11: measured over
// 100 cycles each, memory stayed within what a bare cycle leaves. Others
// (_decimal, _ctypes, _asyncio, _sqlite3, _socket, _ssl, numpy, ...) lose
// memory with every cycle, or crash.
constexpr const char* kRestartSafeExtensions[] = {
    "_bisect", "_bz2",  "_contextvars", "_csv",          "_datetime",      "_hashlib",         "_heapq",
    "_json",   "_lzma", "_multiprocessing", "_pickle",   "_posixshmem",    "_posixsubprocess", "_queue",
    "_random", "_sha256", "_struct",    "_uuid",         "array",          "binascii",         "math",
    "mmap",    "resource", "select",    "termios",       "unicodedata",    "zlib",
};

bool RestartsCleanly(const std::string& module) {
  for (const char* safe : kRestartSafeExtensions) {
    if (module == safe) return true;
  }
  return false;
}

bool EndsWith(const std::string& text, const char* suffix) {
  const std::size_t length = std::strlen(suffix);
  return text.size() >= length && text.compare(text.size() - length, length, suffix) == 0;
}

// The entries of the main module that a fresh one starts with: __name__,
// __builtins__, __doc__ and the like, not a script's __file__.
PyRef MainTemplate() {
  PyBorrowed main(PyImport_AddModule("__main__"));
  PyRef fresh = PyRef::Steal(PyDict_New());
  if (!main || !fresh) return PyRef();
  PyBorrowed globals(PyModule_GetDict(main.get()));
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  std::string name;
  for (Py_ssize_t position = 0; PyDict_Next(globals.get(), &position, &key, &value);) {
    if (!qorv::py::ResultText(key, &name) || name.size() < 4 || name.compare(0, 2, "__") != 0 ||
        !EndsWith(name, "__") || name == "__file__" || name == "__cached__") {
      continue;
    }
    if (PyDict_SetItem(fresh.get(), key, value) != 0) return PyRef();
  }
  return fresh;
}

}  // namespace

Runtime::~Runtime() {
  static_cast<void>(mainTemplate_.release());
}

Runtime::Released::Released() : state_(PyEval_SaveThread()) {}

Runtime::Released::~Released() { PyEval_RestoreThread(state_); }

bool Runtime::Running() const { return running_ && Py_IsInitialized() != 0; }

bool Runtime::Start(const std::string& venv, std::string* reason) {
  if (Running()) return InEnvironment(venv, reason);
  if (!Py_IsInitialized()) {
    MakePythonSymbolsGlobal();
    qorv::py::StartOptions options;
    options.program = InterpreterProgram();
    if (!venv.empty()) {
      // Python takes the environment from its program's place, as the
      // environment's own python would.
      VirtualEnvironment environment;
      if (!FindVirtualEnvironment(venv, kVersion, options.program, &environment, reason)) return false;
      options.program = environment.program;
    }
    if (!qorv::py::StartInterpreter(options, reason)) {
      if (reason->empty()) *reason = "Python did not start";
      return false;
    }
    startedHere_ = true;
    threads_.AdoptStartingThread();
    const bool taken = TakeOver(reason);
    venv_ = venv;
    PyEval_SaveThread();
    running_ = taken;
    return taken;
  }
  // An interpreter that runs already: kept by an earlier run, or the host's.
  {
    Lock python(*this);
    if (!support_ && !TakeOver(reason)) return false;
  }
  running_ = true;
  return InEnvironment(venv, reason);
}

bool Runtime::InEnvironment(const std::string& venv, std::string* reason) const {
  std::error_code error;
  if (venv == venv_ || (!venv.empty() && !venv_.empty() && std::filesystem::equivalent(venv, venv_, error))) {
    return true;
  }
  const auto describe = [](const std::string& directory) {
    return directory.empty() ? std::string("no virtual environment")
                             : "the virtual environment '" + directory + "'";
  };
  *reason = "Python runs with " + describe(venv_) + " and lives on across Close here: a run cannot "
            "switch it to " + describe(venv) + " (restart the host for that)";
  return false;
}

bool Runtime::TakeOver(std::string* reason) {
  if (!support_.Create()) {
    *reason = "cannot make the module qorv_python";
    ReportPythonError();
    return false;
  }
  mainTemplate_ = MainTemplate();
  if (!mainTemplate_) ReportPythonError();
  // An interpreter that was running already may run in a virtual
  // environment: its prefix is then another than the base installation's.
  if (!startedHere_) {
    std::string prefix, base;
    PyObject* basePrefix = qorv::py::SysObject("base_prefix");
    if (basePrefix == nullptr) basePrefix = qorv::py::SysObject("real_prefix");
    PyObject* ownPrefix = qorv::py::SysObject("prefix");
    if (basePrefix != nullptr && ownPrefix != nullptr && qorv::py::ResultText(basePrefix, &base) &&
        qorv::py::ResultText(ownPrefix, &prefix) && prefix != base) {
      venv_ = prefix;
    }
    PyErr_Clear();
  }
  startingModules_.clear();
  PyObject* name = nullptr;
  PyObject* module = nullptr;
  std::string text;
  for (Py_ssize_t position = 0; PyDict_Next(PyImport_GetModuleDict(), &position, &name, &module);) {
    if (qorv::py::ResultText(name, &text)) startingModules_.insert(text);
  }
  return true;
}

bool Runtime::MayShutDown() const {
  if (!qorv::py::kRestartIsSafe || !startedHere_) return false;
  PyObject* name = nullptr;
  PyObject* module = nullptr;
  std::string text;
  for (Py_ssize_t position = 0; PyDict_Next(PyImport_GetModuleDict(), &position, &name, &module);) {
    if (!qorv::py::ResultText(name, &text) || startingModules_.count(text) != 0) continue;
    if (!PyModule_Check(module) || RestartsCleanly(text)) continue;
    PyBorrowed file(PyDict_GetItemString(PyModule_GetDict(module), "__file__"));
    if (file && qorv::py::ResultText(file.get(), &text) &&
        (EndsWith(text, ".so") || EndsWith(text, ".pyd"))) {
      return false;
    }
  }
  PyErr_Clear();
  return true;
}

void Runtime::ShutDown() {
  if (!Running()) return;
  // A host thread that ends meanwhile waits: its state goes with the others.
  const std::lock_guard<std::mutex> life(threads_.lifeMutex());
  // Not a Lock: finalisation deletes this thread's state with every other.
  threads_.Enter();
  support_.Release();
  mainTemplate_.Reset();
  startingModules_.clear();
  // As the interpreter program ends: what is buffered goes out first.
  if (PyObject* stderrStream = qorv::py::SysObject("stderr")) {
    PyRef closed = PyRef::Steal(qorv::py::CallMethodNoArgs(stderrStream, "close"));
  }
  PyErr_Clear();
  SignalDispositions before;
  before.Read();
  Py_Finalize();
  before.RestoreChanged();
  threads_.Forget();
  running_ = false;
  startedHere_ = false;
  venv_.clear();
}
