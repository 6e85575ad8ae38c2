// The host's signal dispositions stay the host's.
//
// A run records each disposition as the host had it at Open. Importing
// Python's signal module (which subprocess, multiprocessing and asyncio do)
// puts Python's own SIGINT handler in place of a default one, so that Ctrl-C
// would raise KeyboardInterrupt inside Python instead of ending the host;
// setting signal.default_int_handler does the same. That is undone after the
// request that did it, in Python's own record of the handler as well, so that
// nothing (asyncio.run, for one) puts it back unasked. Handlers that Python
// code sets with signal.signal stay until Close, which gives back exactly the
// dispositions that Python changed during the run: a handler that the host
// set meanwhile stays.
#ifndef QORV_PYTHON_SIGNAL_RECORD_H
#define QORV_PYTHON_SIGNAL_RECORD_H

#include <cstddef>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#endif

#include "python/py_ref.h"
#include "requests/hot_path.h"

// Every signal's disposition at one moment.
class SignalDispositions {
 public:
  void Read();
  // Puts back every disposition that differs now from the one read.
  void RestoreChanged() const;
  // Whether `signal`'s disposition now differs from the one read; *now
  // receives the present one's handler (null when it cannot be read).
  bool Differs(int signal, void** now) const;
  // Puts back the disposition read for `signal`.
  void Restore(int signal) const;
  // Whether the disposition read for `signal` is the default (0), ignore
  // (1) or anything else (-1).
  int Simple(int signal) const;

 private:
#if !defined(_WIN32)
  std::vector<struct sigaction> actions_;
  std::vector<bool> read_;
#endif
};

class SignalRecord {
 public:
  SignalRecord() = default;
  // References still held are dropped without touching Python (Undo first).
  ~SignalRecord();
  SignalRecord(const SignalRecord&) = delete;
  SignalRecord& operator=(const SignalRecord&) = delete;

  // With the lock held, at Open: the host's dispositions, and Python's
  // record of its handlers when the signal module is loaded.
  void Start();
  // With the lock held, after every request: cheap unless Python imported
  // something or changed its SIGINT handler.
  void Check();
  // With the lock held, at Close: each disposition that Python changed during
  // the run is given back as the host had it at Open.
  void Undo();

 private:
  QORV_COLD_PATH
  void SignalModuleLoaded();
  PyRef PythonHandler(int signal) const;
  // Sets Python's handler (and so the disposition) of `signal` to the host's
  // default or ignore; false when the host has neither, or Python refuses
  // (signal.signal works only on the thread that started Python).
  bool GiveBackThroughPython(int signal);
  bool ThisThreadWasRefused() const;
  QORV_COLD_PATH
  void UndoImplicitInterruptHandler();

  SignalDispositions host_;
  // sys.modules as the interpreter holds it, and its size when last seen.
  _object* modules_ = nullptr;
  std::ptrdiff_t modulesSeen_ = -1;
  // The signal module's functions and constants, once it is loaded.
  PyRef getsignal_;
  PyRef setsignal_;
  PyRef defaultIntHandler_;
  PyRef defaultHandler_;
  PyRef ignoreHandler_;
  PyRef interruptArgument_;  // what getsignal takes for SIGINT
  // Python's handler of SIGINT when last seen, and of every signal when the
  // run started or the module was loaded.
  PyRef lastInterruptHandler_;
  std::vector<PyRef> pythonHandlersAtStart_;
  // Python's record of SIGINT still names its own handler after the
  // disposition was given back without it: retried on later requests.
  bool interruptRecordStale_ = false;
  // Threads on which Python refused to change a handler.
  std::vector<unsigned long> refusedThreads_;
};

#endif  // QORV_PYTHON_SIGNAL_RECORD_H
