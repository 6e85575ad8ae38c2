#include "python/host_signals.h"

#include <Python.h>

#include "python/py_ref.h"
#include "python/python_compat.h"
#include "python/python_library.h"

#if defined(_WIN32)

// Python's DLL has a C runtime of its own, whose signal() never reaches the
// host's handlers: there is nothing to guard.
void HostSignals::Remember() {}
void HostSignals::Check() {}
void HostSignals::GiveBack() {}
void HostSignals::UndoImplicitHandlers() {}

#else

namespace {

bool SameDisposition(const struct sigaction& a, const struct sigaction& b) {
  // sa_handler and sa_sigaction share their storage.
  return a.sa_handler == b.sa_handler && (a.sa_flags & SA_SIGINFO) == (b.sa_flags & SA_SIGINFO);
}

void* HandlerOf(const struct sigaction& action) {
  return reinterpret_cast<void*>(action.sa_handler);
}

// Whether Python code asked for the Python-level handler of `signal` itself:
// signal.signal with a callable. The SIGINT handler that importing the module
// installs on its own, default_int_handler, counts as not asked for.
bool PythonCodeSetHandler(int signal) {
  PyBorrowed module(PyDict_GetItemString(PyImport_GetModuleDict(), qorv::py::kSignalModule));
  if (!module) return false;
  PyRef handler = PyRef::Steal(PyObject_CallMethod(module.get(), const_cast<char*>("getsignal"),
                                                   const_cast<char*>("i"), signal));
  PyRef implicit = PyRef::Steal(PyObject_GetAttrString(module.get(), "default_int_handler"));
  if (!handler || !implicit) {
    PyErr_Clear();
    return false;
  }
  return PyCallable_Check(handler.get()) && handler.get() != implicit.get();
}

}  // namespace

void HostSignals::Remember() {
  host_.assign(NSIG, {});
  saved_.assign(NSIG, false);
  for (int signal = 1; signal < NSIG; ++signal) {
    saved_[signal] = sigaction(signal, nullptr, &host_[signal]) == 0;
  }
  modulesSeen_ = -1;
}

void HostSignals::Check() {
  // A handler appears behind the host's back only when a module is imported;
  // the size of sys.modules tells that without a system call.
  const Py_ssize_t modules = PyDict_Size(PyImport_GetModuleDict());
  if (modules == modulesSeen_) return;
  modulesSeen_ = modules;
  UndoImplicitHandlers();
}

void HostSignals::UndoImplicitHandlers() {
  for (int signal = 1; signal < static_cast<int>(saved_.size()); ++signal) {
    struct sigaction now;
    if (!saved_[signal] || sigaction(signal, nullptr, &now) != 0) continue;
    if (SameDisposition(now, host_[signal])) continue;
    // The host's own changes, and defaults or ignores that Python code set,
    // are left as they are: only Python's C handler can have come unasked.
    if (!IsInPythonLibrary(HandlerOf(now)) || PythonCodeSetHandler(signal)) continue;
    sigaction(signal, &host_[signal], nullptr);
  }
}

void HostSignals::GiveBack() {
  for (int signal = 1; signal < static_cast<int>(saved_.size()); ++signal) {
    struct sigaction now;
    if (!saved_[signal] || sigaction(signal, nullptr, &now) != 0) continue;
    if (!SameDisposition(now, host_[signal])) sigaction(signal, &host_[signal], nullptr);
  }
  modulesSeen_ = -1;
}

#endif
