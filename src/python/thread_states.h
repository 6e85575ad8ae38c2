// The thread states through which host threads run Python. Any host thread
// may call the plugin; each gets a Python thread state of its own on its
// first call and keeps it until the thread ends (making one costs tens of
// microseconds on Python 3.11 and later). A host thread that ends gives its
// state back to Python there and then, so that nothing in Python (threading's
// shutdown, for one) waits for a thread that is gone. Between calls the global
// lock is free, so Python threads run while the host is busy elsewhere.
#ifndef QORV_PYTHON_THREAD_STATES_H
#define QORV_PYTHON_THREAD_STATES_H

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

#include "python/thread_slot.h"

struct _ts;  // PyThreadState

class ThreadStates {
 public:
  ThreadStates();
  ThreadStates(const ThreadStates&) = delete;
  ThreadStates& operator=(const ThreadStates&) = delete;

  // With the lock held by the thread that has just started Python: that
  // thread's state becomes its kept state.
  void AdoptStartingThread();

  // Takes the global lock for the calling thread, with its own state, and
  // returns what Leave needs to give it back. Never throws.
  struct Entry {
    _ts* kept = nullptr;   // the kept state to save on Leave, or null
    bool nested = false;   // the thread held the lock already
    int gilState = -1;     // a PyGILState_STATE when the state is not kept
  };
  Entry Enter() noexcept;
  void Leave(const Entry& entry) noexcept;

  // Whether the calling thread holds the global lock (Python code has called
  // the plugin again, or a Python thread calls it).
  static bool CallerHoldsTheLock();
  // The state of the thread that holds the lock.
  static _ts* Current();

  // With the lock held: the thread states that no host thread keeps, but
  // for the caller's: Python threads (threading or the low-level module) and
  // threads that C code gave a state.
  std::vector<_ts*> ForeignStates() const;

  // Held while Python may be shut down: a host thread that ends takes it
  // before it gives its state back, so that it never does so to an
  // interpreter that is going or gone. Take it before the global lock.
  std::mutex& lifeMutex() { return lifeMutex_; }

  // After finalisation, with lifeMutex held: every state is gone, and the
  // next Enter on any thread makes a new one.
  void Forget();

 private:
  struct Kept {
    ThreadStates* owner = nullptr;
    _ts* state = nullptr;
    std::uint64_t generation = 0;
    // The state that started the interpreter, which Python may reuse in
    // place (3.11 aborts when it finds it deleted): it outlives its thread.
    bool startedPython = false;
  };
  static void HostThreadEnded(Kept& kept);
  bool IsKept(_ts* state) const;

  ThreadSlot<Kept> slot_;
  std::mutex lifeMutex_;
  // Counts interpreters: a state kept under an earlier one is gone.
  std::atomic<std::uint64_t> generation_{1};
  // The kept states of live host threads; changed only with the global lock held.
  std::vector<_ts*> kept_;
};

#endif  // QORV_PYTHON_THREAD_STATES_H
