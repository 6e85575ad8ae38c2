#include "python/signal_record.h"

#include <Python.h>

#include "python/python_compat.h"
#include "python/python_library.h"
#include "requests/hot_path.h"

#if defined(_WIN32)

// Python's DLL has a C runtime of its own, whose signal() never reaches the
// host's handlers: there is nothing to guard.
void SignalDispositions::Read() {}
void SignalDispositions::RestoreChanged() const {}
bool SignalDispositions::Differs(int, void**) const { return false; }
void SignalDispositions::Restore(int) const {}
int SignalDispositions::Simple(int) const { return -1; }
SignalRecord::~SignalRecord() = default;
void SignalRecord::Start() {}
void SignalRecord::Check() {}
void SignalRecord::Undo() {}

#else

namespace {

bool SameDisposition(const struct sigaction& a, const struct sigaction& b) {
  // sa_handler and sa_sigaction share their storage.
  return a.sa_handler == b.sa_handler && (a.sa_flags & SA_SIGINFO) == (b.sa_flags & SA_SIGINFO);
}

void* HandlerOf(const struct sigaction& action) {
  return reinterpret_cast<void*>(action.sa_handler);
}

// The signal numbers that Python's signal module knows (1 to NSIG - 1).
constexpr int kSignalCount = NSIG;

}  // namespace

void SignalDispositions::Read() {
  actions_.assign(kSignalCount, {});
  read_.assign(kSignalCount, false);
  for (int signal = 1; signal < kSignalCount; ++signal) {
    read_[signal] = sigaction(signal, nullptr, &actions_[signal]) == 0;
  }
}

bool SignalDispositions::Differs(int signal, void** now) const {
  *now = nullptr;
  if (signal >= static_cast<int>(read_.size()) || !read_[signal]) return false;
  struct sigaction present;
  if (sigaction(signal, nullptr, &present) != 0) return false;
  *now = HandlerOf(present);
  return !SameDisposition(present, actions_[signal]);
}

void SignalDispositions::Restore(int signal) const {
  if (signal < static_cast<int>(read_.size()) && read_[signal]) {
    sigaction(signal, &actions_[signal], nullptr);
  }
}

void SignalDispositions::RestoreChanged() const {
  void* now = nullptr;
  for (int signal = 1; signal < static_cast<int>(read_.size()); ++signal) {
    if (Differs(signal, &now)) Restore(signal);
  }
}

int SignalDispositions::Simple(int signal) const {
  if (signal >= static_cast<int>(read_.size()) || !read_[signal]) return -1;
  if ((actions_[signal].sa_flags & SA_SIGINFO) != 0) return -1;
  if (actions_[signal].sa_handler == SIG_DFL) return 0;
  if (actions_[signal].sa_handler == SIG_IGN) return 1;
  return -1;
}

SignalRecord::~SignalRecord() {
  for (PyRef* held : {&getsignal_, &setsignal_, &defaultIntHandler_, &defaultHandler_,
                      &ignoreHandler_, &interruptArgument_, &lastInterruptHandler_}) {
    static_cast<void>(held->release());
  }
  for (PyRef& handler : pythonHandlersAtStart_) static_cast<void>(handler.release());
}

void SignalRecord::Start() {
  host_.Read();
  modules_ = PyImport_GetModuleDict();
  modulesSeen_ = -1;
  interruptRecordStale_ = false;
  refusedThreads_.clear();
  getsignal_.Reset();
  lastInterruptHandler_.Reset();
  pythonHandlersAtStart_.clear();
  Check();
}

PyRef SignalRecord::PythonHandler(int signal) const {
  PyRef handler = PyRef::Steal(PyObject_CallFunction(getsignal_.get(), const_cast<char*>("i"), signal));
  if (!handler) PyErr_Clear();
  return handler;
}

// What a run of the module's functions needs, and Python's record of every
// signal as the module starts out: changes from it are Python's own.
void SignalRecord::SignalModuleLoaded() {
  PyBorrowed module(PyDict_GetItemString(PyImport_GetModuleDict(), qorv::py::kSignalModule));
  if (!module) return;
  const auto attribute = [&](const char* name) {
    return PyRef::Steal(PyObject_GetAttrString(module.get(), name));
  };
  getsignal_ = attribute("getsignal");
  setsignal_ = attribute("signal");
  defaultIntHandler_ = attribute("default_int_handler");
  defaultHandler_ = attribute("SIG_DFL");
  ignoreHandler_ = attribute("SIG_IGN");
#if PY_MAJOR_VERSION >= 3
  interruptArgument_ = PyRef::Steal(PyLong_FromLong(SIGINT));
#else
  interruptArgument_ = PyRef::Steal(Py_BuildValue("(i)", SIGINT));
#endif
  if (!getsignal_ || !setsignal_ || !defaultIntHandler_ || !defaultHandler_ || !ignoreHandler_ ||
      !interruptArgument_) {
    PyErr_Clear();
    getsignal_.Reset();
    return;
  }
  pythonHandlersAtStart_.clear();
  pythonHandlersAtStart_.resize(kSignalCount);
  for (int signal = 1; signal < kSignalCount; ++signal) {
    pythonHandlersAtStart_[signal] = PythonHandler(signal);
  }
  lastInterruptHandler_.Reset();
}

QORV_HOT_PATH(27)
void SignalRecord::Check() {
  // Python's handlers appear behind the host's back only when the signal
  // module is loaded; the size of sys.modules tells a new import without a
  // system call.
  const Py_ssize_t modules = qorv::py::DictSize(modules_);
  if (modules != modulesSeen_) {
    modulesSeen_ = modules;
    if (!getsignal_) SignalModuleLoaded();
  }
  if (!getsignal_) return;
  // Python's record of its SIGINT handler: one call, and nothing more while
  // it stays the same object.
#if PY_MAJOR_VERSION >= 3
  PyObject* argument = interruptArgument_.get();
  PyRef handler = PyRef::Steal(qorv::py::CallWithArguments(getsignal_.get(), &argument, 1));
#else
  PyRef handler = PyRef::Steal(PyObject_Call(getsignal_.get(), interruptArgument_.get(), nullptr));
#endif
  if (!handler) {
    PyErr_Clear();
    return;
  }
  if (handler.get() == lastInterruptHandler_.get() && !interruptRecordStale_) return;
  lastInterruptHandler_ = std::move(handler);
  UndoImplicitInterruptHandler();
}

bool SignalRecord::GiveBackThroughPython(int signal) {
  const int simple = host_.Simple(signal);
  if (simple < 0 || ThisThreadWasRefused()) return false;
  PyObject* handler = simple == 0 ? defaultHandler_.get() : ignoreHandler_.get();
  PyRef previous = PyRef::Steal(
      PyObject_CallFunction(setsignal_.get(), const_cast<char*>("iO"), signal, handler));
  if (!previous) {
    PyErr_Clear();
    refusedThreads_.push_back(static_cast<unsigned long>(PyThread_get_thread_ident()));
    return false;
  }
  return true;
}

bool SignalRecord::ThisThreadWasRefused() const {
  const auto ident = static_cast<unsigned long>(PyThread_get_thread_ident());
  for (unsigned long refused : refusedThreads_) {
    if (refused == ident) return true;
  }
  return false;
}

// Python's C handler for SIGINT with default_int_handler behind it is
// Python's default, not the run's choice: the host's disposition comes back.
void SignalRecord::UndoImplicitInterruptHandler() {
  if (lastInterruptHandler_.get() != defaultIntHandler_.get()) {
    interruptRecordStale_ = false;
    return;
  }
  // Neither this thread nor Python code on it can change Python's record.
  if (interruptRecordStale_ && ThisThreadWasRefused()) return;
  void* now = nullptr;
  const bool pythons = host_.Differs(SIGINT, &now) && IsInPythonLibrary(now);
  if (!pythons && !interruptRecordStale_) return;
  if (GiveBackThroughPython(SIGINT)) {
    interruptRecordStale_ = false;
    lastInterruptHandler_ = PythonHandler(SIGINT);
    return;
  }
  if (pythons) host_.Restore(SIGINT);
  // Python's record still names its own handler: only the thread that
  // started Python may change it, and a later request on it will.
  interruptRecordStale_ = host_.Simple(SIGINT) >= 0;
}

void SignalRecord::Undo() {
  Check();
  for (int signal = 1; signal < kSignalCount; ++signal) {
    void* now = nullptr;
    if (!host_.Differs(signal, &now)) continue;
    // Changed since Open: by Python when its own handler stands there, or
    // when Python's record of the handler changed during the run; otherwise
    // by the host, and so left alone.
    bool byPython = IsInPythonLibrary(now);
    if (!byPython && getsignal_ && signal < static_cast<int>(pythonHandlersAtStart_.size())) {
      PyRef handler = PythonHandler(signal);
      byPython = handler && handler.get() != pythonHandlersAtStart_[signal].get();
    }
    if (!byPython) continue;
    if (!GiveBackThroughPython(signal)) host_.Restore(signal);
  }
  getsignal_.Reset();
  setsignal_.Reset();
  defaultIntHandler_.Reset();
  defaultHandler_.Reset();
  ignoreHandler_.Reset();
  interruptArgument_.Reset();
  lastInterruptHandler_.Reset();
  pythonHandlersAtStart_.clear();
}

#endif
