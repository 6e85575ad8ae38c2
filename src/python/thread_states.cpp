#include "python/thread_states.h"

#include <Python.h>

#include <algorithm>
#include <cstdint>

#include "python/python_compat.h"

namespace {

// A host that starts a new thread for every call would otherwise keep one
// state per dead thread; past this many, further threads make a state for
// each call and drop it again.
constexpr std::size_t kMaxKept = 64;

// Bumped whenever every thread state is gone, which makes every thread's
// cached state stale at once.
std::uint64_t generation = 1;

// Trivially destructible on purpose: a thread_local with a destructor would
// pin the plugin in memory until every thread that called it had ended.
struct CachedState {
  std::uint64_t generation;
  PyThreadState* state;
};
thread_local CachedState cached = {0, nullptr};

}  // namespace

// Room for every kept state from the start: Enter never allocates, and so
// never throws.
ThreadStates::ThreadStates() { kept_.reserve(kMaxKept); }

void ThreadStates::Keep(PyThreadState* state) {
  kept_.push_back(state);
  cached = {generation, state};
}

void ThreadStates::AdoptStartingThread() { Keep(PyThreadState_Get()); }

ThreadStates::Entry ThreadStates::Enter() {
  Entry entry;
  if (qorv::py::CurrentThreadState() != nullptr) {
    entry.nested = true;
    return entry;
  }
  if (cached.generation == generation && cached.state != nullptr) {
    PyEval_RestoreThread(cached.state);
    entry.state = cached.state;
    return entry;
  }
  // The thread's first call: PyGILState_Ensure finds the state Python knows
  // for this thread, or makes one. A kept state's Ensure is never released:
  // the count it holds stops Python from deleting the state.
  const PyGILState_STATE gilState = PyGILState_Ensure();
  if (kept_.size() < kMaxKept) {
    Keep(PyThreadState_Get());
    entry.state = cached.state;
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
    if (state != current && std::find(kept_.begin(), kept_.end(), state) == kept_.end()) ++count;
  }
  return count;
}

void ThreadStates::Forget() {
  kept_.clear();
  ++generation;
}
