#include "python/thread_states.h"

#include <Python.h>

#include <algorithm>

#include "python/python_compat.h"

namespace {

// A host that starts a new thread for every call would otherwise keep one
// state per dead thread; past this many, further threads make a state for
// each call and drop it again.
constexpr std::size_t kMaxKept = 64;

// Whether the calling thread holds the global lock already: Python code in
// a request has called the plugin again. Up to Python 3.11 the current thread
// state is that of whichever thread holds the lock, asked from any thread, so
// it is compared with the state Python has bound to this thread.
bool CallerHoldsTheLock() {
  PyThreadState* own = PyGILState_GetThisThreadState();
  return own != nullptr && own == qorv::py::CurrentThreadState();
}

}  // namespace

// Room for every kept state from the start: Enter never allocates, and so
// never throws.
ThreadStates::ThreadStates() { kept_.reserve(kMaxKept); }

void ThreadStates::Keep(PyThreadState* state) { kept_.push_back(state); }

bool ThreadStates::IsKept(PyThreadState* state) const {
  return std::find(kept_.begin(), kept_.end(), state) != kept_.end();
}

void ThreadStates::AdoptStartingThread() { Keep(PyThreadState_Get()); }

ThreadStates::Entry ThreadStates::Enter() {
  Entry entry;
  if (CallerHoldsTheLock()) {
    entry.nested = true;
    return entry;
  }
  // The state Python has bound to this thread, which is gone (and the
  // binding with it) once Python is shut down.
  PyThreadState* state = PyGILState_GetThisThreadState();
  if (state != nullptr && IsKept(state)) {
    PyEval_RestoreThread(state);
    entry.state = state;
    return entry;
  }
  // The thread's first call: PyGILState_Ensure finds the state Python knows
  // for this thread, or makes one. A kept state's Ensure is never released:
  // the count it holds stops Python from deleting the state.
  const PyGILState_STATE gilState = PyGILState_Ensure();
  if (kept_.size() < kMaxKept) {
    entry.state = PyThreadState_Get();
    Keep(entry.state);
    return entry;
  }
  entry.gilState = static_cast<int>(gilState);
  return entry;
}

void ThreadStates::Leave(const Entry& entry) {
  if (entry.nested) return;
  if (entry.state != nullptr) {
    PyEval_SaveThread();
    return;
  }
  PyGILState_Release(static_cast<PyGILState_STATE>(entry.gilState));
}

std::size_t ThreadStates::ForeignThreadCount() const {
  const PyThreadState* current = qorv::py::CurrentThreadState();
  std::size_t count = 0;
  for (PyThreadState* state = PyInterpreterState_ThreadHead(PyInterpreterState_Head());
       state != nullptr; state = PyThreadState_Next(state)) {
    if (state != current && !IsKept(state)) ++count;
  }
  return count;
}

void ThreadStates::Forget() { kept_.clear(); }
