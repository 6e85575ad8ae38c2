// The request being served, as other threads see it. PyInterrupt, sent from
// any host thread, and the watchdog that keeps a time limit ask it to stop:
// an exception of the plugin's own, derived from BaseException, is raised in
// its Python code at the next bytecode it runs. Nothing runs per bytecode;
// serving a request costs a few stores, and the watchdog thread exists only
// while a run has a time limit.
#ifndef QORV_PYTHON_REQUEST_WATCH_H
#define QORV_PYTHON_REQUEST_WATCH_H

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "python/runtime.h"

class RequestWatch {
 public:
  explicit RequestWatch(Runtime& runtime) : runtime_(runtime) {}
  ~RequestWatch() { Stop(); }
  RequestWatch(const RequestWatch&) = delete;
  RequestWatch& operator=(const RequestWatch&) = delete;

  // With the lock held, at Open: a limit in seconds (> 0) starts the
  // watchdog thread; 0 means none.
  void SetTimeLimit(double seconds);
  double timeLimit() const { return limitSeconds_; }

  // With the lock held, on the serving thread, around each request that is
  // not nested in another; `python` is the serving thread's hold of the lock.
  void Began(const Runtime::Lock& python);
  // The reason the request was asked to stop ("timeout" or "interrupted"),
  // or null; *seconds is how long it ran then (-1 without a time limit, when
  // it is not measured). A stop asked for but not yet raised is withdrawn: it
  // never reaches the next request.
  const char* Ended(double* seconds);
  // With the lock held, after a request nested in another ended: a stop
  // asked for is raised again, so that the request around it stops too.
  void NestedEnded();

  // From any thread, holding no lock: asks the request being served to
  // stop. Whether one was being served.
  bool Interrupt();

  // Hold no lock: the watchdog thread ends. Idempotent.
  void Stop();

 private:
  // With the lock held: raises the stop in request `generation` if it is
  // still the one served.
  bool Post(std::uint64_t generation, const char* reason);
  void Watch();

  Runtime& runtime_;
  // The request being served (0: none), its thread and when it began, in
  // milliseconds of a coarse clock. Written only by the serving thread.
  std::atomic<std::uint64_t> serving_{0};
  std::atomic<unsigned long> thread_{0};
  std::atomic<std::int64_t> beganMs_{0};
  std::uint64_t lastGeneration_ = 0;
  // The request asked to stop and why; guarded by Python's lock.
  std::uint64_t stopAskedFor_ = 0;
  const char* stopReason_ = nullptr;
  // The watchdog.
  double limitSeconds_ = 0;
  std::thread watchdog_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool stopping_ = false;
};

#endif  // QORV_PYTHON_REQUEST_WATCH_H
