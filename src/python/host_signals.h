// The host's signal dispositions stay the host's.
//
// Importing Python's signal module (which subprocess, multiprocessing and
// asyncio do) puts Python's own SIGINT handler in place of a default one, so
// that Ctrl-C would raise KeyboardInterrupt inside Python instead of ending
// the host. That is undone as soon as it is seen. Handlers that Python code
// sets explicitly with signal.signal stay until Close, which gives every
// disposition back as the host had it at Open.
#ifndef QORV_PYTHON_HOST_SIGNALS_H
#define QORV_PYTHON_HOST_SIGNALS_H

#include <cstddef>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#endif

class HostSignals {
 public:
  // Before Python runs: the disposition of every signal.
  void Remember();

  // With the lock held, cheaply, on every way into and out of Python: when a
  // module was imported since the last look, undoes what Python installed
  // that its code did not ask for.
  void Check();

  // Every disposition back as Remember found it.
  void GiveBack();

 private:
  void UndoImplicitHandlers();

  std::ptrdiff_t modulesSeen_ = -1;
#if !defined(_WIN32)
  // Indexed by signal number; `saved_` tells which were readable.
  std::vector<struct sigaction> host_;
  std::vector<bool> saved_;
#endif
};

#endif  // QORV_PYTHON_HOST_SIGNALS_H
