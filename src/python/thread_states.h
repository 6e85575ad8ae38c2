// The thread states through which host threads run Python. Any host thread
// may call the plugin (one call at a time); each gets a Python thread state of
// its own the first time and keeps it for the life of the interpreter, since
// making one costs tens of microseconds on Python 3.11 and later. Between
// calls the global lock is free, so Python threads run while the host is busy
// elsewhere.
#ifndef QORV_PYTHON_THREAD_STATES_H
#define QORV_PYTHON_THREAD_STATES_H

#include <cstddef>
#include <vector>

struct _ts;  // PyThreadState

class ThreadStates {
 public:
  ThreadStates();

  // With the lock held by the thread that has just started Python: that
  // thread's state becomes its kept state.
  void AdoptStartingThread();

  // Takes the lock for the calling thread, with its own state. Returns what
  // Leave needs to give the lock back.
  struct Entry {
    _ts* state = nullptr;       // the kept state to save, or null
    bool nested = false;        // the thread held the lock already
    int gilState = -1;          // a PyGILState_STATE when the state is not kept
  };
  Entry Enter();
  void Leave(const Entry& entry);

  // Python threads still holding a state: those that Python code started (with
  // threading or the low-level thread module) or that C code made, but no
  // host thread's kept state and not the caller's.
  std::size_t ForeignThreadCount() const;

  // After finalisation every state is gone, and the next Enter on any thread
  // makes a new one.
  void Forget();

 private:
  void Keep(_ts* state);
  bool IsKept(_ts* state) const;

  std::vector<_ts*> kept_;
};

#endif  // QORV_PYTHON_THREAD_STATES_H
