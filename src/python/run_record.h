// What Python changes in the host and the process during a run, recorded so
// that the end of the run undoes exactly that and nothing else: the signal
// dispositions that Python code or a module set, the module directories the
// run put first on sys.path, sys.stderr's copy into the log, and the threads
// the run started, which Close waits for.
#ifndef QORV_PYTHON_RUN_RECORD_H
#define QORV_PYTHON_RUN_RECORD_H

#include <string>
#include <vector>

#include "python/py_ref.h"
#include "python/signal_record.h"

class SupportModule;
class ThreadStates;
struct _ts;

class RunRecord {
 public:
  RunRecord() = default;
  // References still held are dropped without touching Python (Undo first).
  ~RunRecord();
  RunRecord(const RunRecord&) = delete;
  RunRecord& operator=(const RunRecord&) = delete;

  // With the lock held, at Open. `pythonPath` goes first on sys.path, in
  // order. With `copyStderr`, what Python writes to sys.stderr is copied into
  // the log (see CopyFailuresTo) until Undo.
  void Start(const ThreadStates& threads, const SupportModule& support,
             const std::vector<std::string>& pythonPath, bool copyStderr);
  // With the lock held, after every request.
  void Check() { signals_.Check(); }

  // With the lock held (given back while it waits): waits up to two seconds
  // for Python threads to end. With `everyThread`, for every thread that has
  // a Python state but the host's (as before Python is shut down); else for
  // the threads this run started that Python itself waits for at exit:
  // threading's non-daemon threads, less the idle workers of thread pools.
  // Whether none is left.
  bool WaitForThreads(const ThreadStates& threads, const SupportModule& support, bool everyThread);

  // With the lock held, at Close: the signal dispositions that Python changed
  // back as the host had them, this run's entries out of sys.path (wherever
  // they are now), and sys.stderr back unless Python code has replaced it
  // since.
  void Undo();

 private:
  SignalRecord signals_;
  std::vector<_ts*> threadsAtStart_;
  std::vector<PyRef> pathEntries_;  // the very objects put on sys.path
  PyRef stderrCopy_;    // what this run put in place of sys.stderr
  PyRef stderrBefore_;  // and what was there
};

#endif  // QORV_PYTHON_RUN_RECORD_H
