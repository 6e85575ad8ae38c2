#include "python/interpreter.h"

#include <Python.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "python/errors.h"
#include "python/python_compat.h"
#include "python/python_library.h"

namespace {

// How long Stop waits for Python threads to end.
constexpr std::chrono::milliseconds kThreadWait(2000);
constexpr std::chrono::milliseconds kThreadPoll(5);

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

Interpreter::~Interpreter() {
  static_cast<void>(mainTemplate_.release());
  static_cast<void>(retiredMains_.release());
  for (ResolvedFunction& entry : resolved_) {
    static_cast<void>(entry.moduleObject.release());
    static_cast<void>(entry.function.release());
  }
}

bool Interpreter::Running() const { return running_ && Py_IsInitialized() != 0; }

void Interpreter::ReleaseObject(_object* object) { Py_XDECREF(object); }

Interpreter::Lock::Lock(Interpreter& interpreter)
    : interpreter_(interpreter), entry_(interpreter.threads_.Enter()) {}

// What Python did while the lock was held, or since it was last held (a
// Python thread's import), is checked on the way out.
Interpreter::Lock::~Lock() {
  interpreter_.signals_.Check();
  interpreter_.threads_.Leave(entry_);
}

bool Interpreter::Start(std::string* reason) {
  signals_.Remember();
  if (!Py_IsInitialized()) {
    MakePythonSymbolsGlobal();
    if (!qorv::py::StartInterpreter(InterpreterProgram(), reason)) {
      signals_.GiveBack();
      return false;
    }
    startedHere_ = true;
    mainTemplate_ = PyRef();
    startingModules_.clear();
    threads_.AdoptStartingThread();
    PyEval_SaveThread();
  }
  Lock lock(*this);
  if (!mainTemplate_) RememberStartingState();
  if (!RunSource("import sys")) {
    *reason = "Python cannot import sys";
    return false;
  }
  running_ = true;
  return true;
}

void Interpreter::RememberStartingState() {
  mainTemplate_ = MainTemplate();
  if (!mainTemplate_) ReportPythonError();
  PyObject* name = nullptr;
  PyObject* module = nullptr;
  std::string text;
  for (Py_ssize_t position = 0; PyDict_Next(PyImport_GetModuleDict(), &position, &name, &module);) {
    if (qorv::py::ResultText(name, &text)) startingModules_.insert(text);
  }
}

void Interpreter::Stop() {
  if (!Running()) {
    running_ = false;
    return;
  }
  running_ = false;
  // Not a Lock: finalisation deletes this thread's state with every other.
  const ThreadStates::Entry entry = threads_.Enter();
  names_.Clear();
  ForgetResolvedFunctions();
  if (!qorv::py::RunExitHandlers()) ReportPythonError();
  FlushPythonStreams();
  const bool threadsEnded = WaitForPythonThreads();
  if (threadsEnded && startedHere_ && qorv::py::kRestartIsSafe && !ExtensionModulesLoaded()) {
    mainTemplate_.Reset();
    retiredMains_.Reset();
    startingModules_.clear();
    RunSource("sys.stderr.close()");
    Py_Finalize();
    threads_.Forget();
    startedHere_ = false;
  } else {
    if (!threadsEnded) {
      PrintFailure("Python threads still running at Close; the interpreter is left running");
    }
    ResetMainModule(threadsEnded);
    FlushPythonStreams();
    threads_.Leave(entry);
  }
  signals_.GiveBack();
}

bool Interpreter::WaitForPythonThreads() {
  const auto deadline = std::chrono::steady_clock::now() + kThreadWait;
  while (threads_.ForeignThreadCount() > 0) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    Py_BEGIN_ALLOW_THREADS
    std::this_thread::sleep_for(kThreadPoll);
    Py_END_ALLOW_THREADS
  }
  return true;
}

// An extension module loaded from a shared library keeps state in the
// library, which stays loaded across a restart: many leak it, some (numpy)
// cannot be imported again or crash.
bool Interpreter::ExtensionModulesLoaded() const {
  PyObject* name = nullptr;
  PyObject* module = nullptr;
  std::string text;
  for (Py_ssize_t position = 0; PyDict_Next(PyImport_GetModuleDict(), &position, &name, &module);) {
    if (!qorv::py::ResultText(name, &text) || startingModules_.count(text) != 0) continue;
    if (!PyModule_Check(module)) continue;
    PyBorrowed file(PyDict_GetItemString(PyModule_GetDict(module), "__file__"));
    if (file && qorv::py::ResultText(file.get(), &text) &&
        (EndsWith(text, ".so") || EndsWith(text, ".pyd"))) {
      return true;
    }
  }
  PyErr_Clear();
  return false;
}

// A new main module in sys.modules: the next run starts with nothing bound,
// and what the old one held goes once nothing else refers to it. While Python
// threads run, functions of theirs may use the old namespace: it is kept.
void Interpreter::ResetMainModule(bool threadsEnded) {
  if (!mainTemplate_) return;
  if (threadsEnded) {
    retiredMains_.Reset();
  } else {
    if (!retiredMains_) retiredMains_ = PyRef::Steal(PyList_New(0));
    PyBorrowed old(PyDict_GetItemString(PyImport_GetModuleDict(), "__main__"));
    if (!retiredMains_ || (old && PyList_Append(retiredMains_.get(), old.get()) != 0)) {
      ReportPythonError();
    }
  }
  PyRef main = PyRef::Steal(PyModule_New("__main__"));
  if (!main || PyDict_Update(PyModule_GetDict(main.get()), mainTemplate_.get()) != 0 ||
      PyDict_SetItemString(PyImport_GetModuleDict(), "__main__", main.get()) != 0) {
    ReportPythonError();
  }
}
