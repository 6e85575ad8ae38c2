#include "python/thread_states.h"

#include <Python.h>

#include <algorithm>

#include "python/python_compat.h"
#include "requests/hot_path.h"

namespace {

// A host that keeps more threads than this alive gets, on the further ones,
// a state made for each call and dropped again.
constexpr std::size_t kMaxKept = 64;

}  // namespace

// Room for every kept state from the start: adding one never allocates, and
// so never throws.
ThreadStates::ThreadStates() : slot_(&HostThreadEnded) { kept_.reserve(kMaxKept); }

bool ThreadStates::IsKept(PyThreadState* state) const {
  return std::find(kept_.begin(), kept_.end(), state) != kept_.end();
}

void ThreadStates::AdoptStartingThread() {
  Kept* kept = slot_.Get();
  if (kept == nullptr) return;  // the state stays Python's own; the thread is then served as any other
  *kept = {this, PyThreadState_Get(), generation_.load(), true};
  kept_.push_back(kept->state);
}

bool ThreadStates::CallerHoldsTheLock() {
  // Up to Python 3.11 the current thread state is that of whichever thread
  // holds the lock, asked from any thread: it is compared with the state
  // Python has bound to this thread.
  PyThreadState* own = PyGILState_GetThisThreadState();
  return own != nullptr && own == qorv::py::CurrentThreadState();
}

_ts* ThreadStates::Current() { return qorv::py::CurrentThreadState(); }

QORV_HOT_PATH(07)
ThreadStates::Entry ThreadStates::Enter() noexcept {
  Entry entry;
  // A host thread's kept state, from the plugin's own slot of the thread
  // (emptied when the thread ends): the one look-up on the usual way in.
  // Python's binding costs more (a locked list on Python 2).
  const Kept* kept = slot_.Find();
  if (kept != nullptr && kept->state != nullptr && kept->generation == generation_.load()) {
    if (kept->state == qorv::py::CurrentThreadState()) {
      entry.nested = true;  // Python code of this thread calls the plugin again
      return entry;
    }
    PyEval_RestoreThread(kept->state);
    entry.kept = kept->state;
    return entry;
  }
  // No kept state: Python's binding tells a thread that holds the lock
  // already (a Python thread calling through ctypes) and one that has a
  // state of someone else's.
  PyThreadState* const state = PyGILState_GetThisThreadState();
  if (state != nullptr && state == qorv::py::CurrentThreadState()) {
    entry.nested = true;
    return entry;
  }
  // A thread with no state yet gets one, and keeps it. A thread that has a
  // state of someone else's only borrows it for the call: its owner deletes it.
  const PyGILState_STATE gilState = PyGILState_Ensure();
  if (state == nullptr && kept_.size() < kMaxKept) {
    if (Kept* made = slot_.Get()) {
      *made = {this, PyThreadState_Get(), generation_.load(), false};
      kept_.push_back(made->state);
      // The count that Ensure took stays until the thread ends: it keeps
      // Python from deleting the state when this call gives the lock back.
      entry.kept = made->state;
      return entry;
    }
  }
  entry.gilState = static_cast<int>(gilState);
  return entry;
}

QORV_HOT_PATH(28)
void ThreadStates::Leave(const Entry& entry) noexcept {
  if (entry.nested) return;
  if (entry.kept != nullptr) {
    PyEval_SaveThread();
    return;
  }
  PyGILState_Release(static_cast<PyGILState_STATE>(entry.gilState));
}

// On a host thread that ends: its state goes back to Python now, with the
// lock taken on that very thread, so that Python deletes it as it does a
// thread of its own (threading sees the thread end; nothing waits for it).
// The state that started Python stays, as one of the host's.
void ThreadStates::HostThreadEnded(Kept& kept) {
  ThreadStates* owner = kept.owner;
  if (owner == nullptr || kept.state == nullptr || kept.startedPython) return;
  const std::lock_guard<std::mutex> life(owner->lifeMutex_);
  if (kept.generation != owner->generation_.load() || !Py_IsInitialized()) return;
  PyEval_RestoreThread(kept.state);
  const auto found = std::find(owner->kept_.begin(), owner->kept_.end(), kept.state);
  if (found != owner->kept_.end()) owner->kept_.erase(found);
  PyThreadState_Clear(kept.state);
  PyThreadState_DeleteCurrent();  // gives the lock back, and Python's binding of this thread
  kept.state = nullptr;
}

std::vector<PyThreadState*> ThreadStates::ForeignStates() const {
  const PyThreadState* current = qorv::py::CurrentThreadState();
  std::vector<PyThreadState*> foreign;
  for (PyThreadState* state = PyInterpreterState_ThreadHead(PyInterpreterState_Head());
       state != nullptr; state = PyThreadState_Next(state)) {
    if (state != current && !IsKept(state)) foreign.push_back(state);
  }
  return foreign;
}

void ThreadStates::Forget() {
  ++generation_;
  kept_.clear();
}
