// What lives as long as the process: the one Python interpreter, started by
// the plugin or found running (kept by an earlier run, or started by the
// host), the thread states of the host's threads, the plugin's own module in
// the interpreter, and what the interpreter had when the plugin came to it.
// A run (see Session) uses it; only the end of a run decides to shut it down.
#ifndef QORV_PYTHON_RUNTIME_H
#define QORV_PYTHON_RUNTIME_H

#include <set>
#include <string>

#include "python/py_ref.h"
#include "python/support_module.h"
#include "python/thread_states.h"

class Runtime {
 public:
  Runtime() = default;
  // Python references still held are dropped without touching Python, which
  // may be gone, or locked by another thread, by then.
  ~Runtime();
  Runtime(const Runtime&) = delete;
  Runtime& operator=(const Runtime&) = delete;

  // Starts Python, or carries on with the interpreter that runs in the
  // process; with `venv` (an absolute directory, or ""), in that virtual
  // environment. Returns with the lock free. False, with the reason, when
  // Python cannot run, or runs already in another environment (an
  // interpreter cannot switch; a kept one lives on across runs).
  bool Start(const std::string& venv, std::string* reason);

  // Between a successful Start and ShutDown.
  bool Running() const;

  // Python's lock for the calling thread, with that thread's own state, for
  // as long as the object lives. Any thread may take it; a thread that holds
  // it already (Python code calling the plugin again) takes it again for free.
  class Lock {
   public:
    explicit Lock(Runtime& runtime) noexcept : states_(runtime.threads_), entry_(states_.Enter()) {}
    ~Lock() { states_.Leave(entry_); }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    // The thread state that runs Python while the lock is held.
    _ts* state() const { return entry_.kept != nullptr ? entry_.kept : ThreadStates::Current(); }

   private:
    ThreadStates& states_;
    ThreadStates::Entry entry_;
  };

  // Gives Python's lock, which the calling thread holds, back for as long as
  // the object lives: for a thread that must wait for something that the
  // holder of the lock may need.
  class Released {
   public:
    Released();
    ~Released();
    Released(const Released&) = delete;
    Released& operator=(const Released&) = delete;

   private:
    _ts* state_;
  };

  // With the lock held: whether shutting Python down is safe and the
  // plugin's to do: only on Python 3.10 and 3.11, only an interpreter that
  // Start started, and only with no extension module loaded from a shared
  // library since, but for a few measured to restart cleanly (many leak their
  // state across a restart; some crash).
  bool MayShutDown() const;

  // Shuts Python down. Hold no lock. Signal dispositions that finalisation
  // changes (it resets those with Python handlers to the default) are put
  // back as they were just before.
  void ShutDown();

  ThreadStates& threads() { return threads_; }
  const SupportModule& support() const { return support_; }
  // What a fresh main module holds (__name__, __builtins__, __doc__, ...).
  PyBorrowed mainTemplate() const { return mainTemplate_.borrowed(); }

 private:
  // With the lock held, once per interpreter the plugin comes to.
  bool TakeOver(std::string* reason);

  // Whether the interpreter runs in the virtual environment `venv`.
  bool InEnvironment(const std::string& venv, std::string* reason) const;

  bool running_ = false;
  bool startedHere_ = false;
  std::string venv_;  // the virtual environment the interpreter runs in, or ""
  ThreadStates threads_;
  SupportModule support_;
  PyRef mainTemplate_;
  std::set<std::string> startingModules_;
};

#endif  // QORV_PYTHON_RUNTIME_H
