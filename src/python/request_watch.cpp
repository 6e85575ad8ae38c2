#include "python/request_watch.h"

#include <Python.h>

#include <algorithm>
#include <chrono>
#include <cstdio>

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

#include "python/errors.h"
#include "python/python_compat.h"
#include "python/runtime.h"
#include "requests/hot_path.h"

namespace {

constexpr const char kTimeout[] = "timeout";
constexpr const char kInterrupted[] = "interrupted";

// Code that catches the exception and goes on is stopped again this long after.
constexpr std::int64_t kRepostMs = 500;
// How often the watchdog looks for a new request at most.
constexpr std::int64_t kPollMs = 50;

// Milliseconds of a clock that is cheap to read (a few nanoseconds, where
// the precise one costs tens), at a resolution of a few milliseconds.
std::int64_t CoarseMilliseconds() {
#if defined(_WIN32)
  return static_cast<std::int64_t>(GetTickCount64());
#else
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC_COARSE, &now);
  return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
#endif
}

std::int64_t CoarseResolutionMs() {
#if defined(_WIN32)
  return 16;
#else
  struct timespec resolution;
  if (clock_getres(CLOCK_MONOTONIC_COARSE, &resolution) != 0) return 10;
  return static_cast<std::int64_t>(resolution.tv_sec) * 1000 + (resolution.tv_nsec + 999999) / 1000000;
#endif
}

}  // namespace

void RequestWatch::SetTimeLimit(double seconds) {
  Stop();
  limitSeconds_ = seconds > 0 ? seconds : 0;
  if (limitSeconds_ == 0) return;
  // The exception says the limit.
  char message[96];
  std::snprintf(message, sizeof message, "the request ran longer than its time limit of %g s",
                limitSeconds_);
  PyBorrowed timedOut = runtime_.support().Get("RequestTimedOut");
  PyRef text = PyRef::Steal(PyUnicode_FromString(message));
  if (!timedOut || !text || PyObject_SetAttrString(timedOut.get(), "message", text.get()) != 0) {
    PyErr_Clear();
  }
  stopping_ = false;
  watchdog_ = std::thread(&RequestWatch::Watch, this);
}

QORV_HOT_PATH(09)
void RequestWatch::Began(const Runtime::Lock& python) {
  const std::uint64_t generation = ++lastGeneration_;
  // The id that an exception asked of a thread is matched against, as the
  // serving thread's state keeps it.
  thread_.store(static_cast<unsigned long>(python.state()->thread_id), std::memory_order_relaxed);
  // The time only matters to a limit; without one a stop says no duration.
  if (limitSeconds_ > 0) beganMs_.store(CoarseMilliseconds(), std::memory_order_relaxed);
  serving_.store(generation, std::memory_order_release);
}

QORV_HOT_PATH(26)
const char* RequestWatch::Ended(double* seconds) {
  const std::uint64_t generation = serving_.load(std::memory_order_relaxed);
  serving_.store(0, std::memory_order_release);
  if (stopAskedFor_ != generation) return nullptr;
  ExpectStop(false);
  qorv::py::RaiseInThread(static_cast<qorv::py::ThreadIdent>(thread_.load(std::memory_order_relaxed)), nullptr);
  *seconds = limitSeconds_ > 0
                 ? static_cast<double>(CoarseMilliseconds() - beganMs_.load(std::memory_order_relaxed)) / 1000
                 : -1;
  return stopReason_;
}

QORV_HOT_PATH(36)
void RequestWatch::NestedEnded() {
  const std::uint64_t generation = serving_.load(std::memory_order_relaxed);
  if (generation != 0 && stopAskedFor_ == generation) Post(generation, stopReason_);
}

bool RequestWatch::Interrupt() {
  const std::uint64_t generation = serving_.load(std::memory_order_acquire);
  if (generation == 0) return false;
  const qorv::py::LockRequest hurry;
  const Runtime::Lock python(runtime_);
  return Post(generation, kInterrupted);
}

bool RequestWatch::Post(std::uint64_t generation, const char* reason) {
  if (serving_.load(std::memory_order_acquire) != generation) return false;
  PyBorrowed stop = runtime_.support().Get(reason == kTimeout ? "RequestTimedOut" : "RequestInterrupted");
  if (!stop) {
    PyErr_Clear();
    return false;
  }
  qorv::py::RaiseInThread(static_cast<qorv::py::ThreadIdent>(thread_.load()), stop.get());
  stopAskedFor_ = generation;
  stopReason_ = reason;
  ExpectStop(true);
  return true;
}

// Sleeps until the request being served reaches its limit, or until it may
// notice a new request; never wakes the serving thread for nothing.
void RequestWatch::Watch() {
  // The coarse clock may have stood still for up to its resolution when the
  // request began: the limit is counted from the latest it may have begun.
  const auto limitMs = static_cast<std::int64_t>(limitSeconds_ * 1000) + CoarseResolutionMs();
  const std::int64_t pollMs = std::max<std::int64_t>(1, std::min(kPollMs, limitMs / 4));
  std::uint64_t postedFor = 0;
  std::int64_t repostAtMs = 0;
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    const std::uint64_t generation = serving_.load(std::memory_order_acquire);
    const std::int64_t now = CoarseMilliseconds();
    std::int64_t wakeAtMs = now + pollMs;
    if (generation != 0) {
      const std::int64_t dueMs =
          generation == postedFor ? repostAtMs : beganMs_.load(std::memory_order_relaxed) + limitMs;
      if (now >= dueMs) {
        lock.unlock();
        {
          const qorv::py::LockRequest hurry;
          const Runtime::Lock python(runtime_);
          Post(generation, kTimeout);
        }
        lock.lock();
        // Asked again later if it goes on; a request that ended meanwhile is
        // not looked at again.
        postedFor = generation;
        repostAtMs = now + kRepostMs;
        continue;
      }
      wakeAtMs = std::min(wakeAtMs, dueMs);
    }
    wake_.wait_for(lock, std::chrono::milliseconds(std::max<std::int64_t>(1, wakeAtMs - now)));
  }
}

void RequestWatch::Stop() {
  {
    const std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
  if (watchdog_.joinable()) watchdog_.join();
}
