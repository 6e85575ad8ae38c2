// The turn that serves requests one at a time. Taking a free turn and giving
// it back are one atomic operation each, inline, and plain loads and stores
// while the process has only one thread; only a caller that has to wait uses
// the mutex and condition variable. It is a lock in the standard library's
// sense (lock, try_lock, unlock), for std::lock_guard and the like.
#ifndef QORV_PLUGIN_TURN_H
#define QORV_PLUGIN_TURN_H

#include <atomic>
#include <condition_variable>
#include <mutex>

#if defined(__has_include)
#if __has_include(<sys/single_threaded.h>)
#include <sys/single_threaded.h>
#define QORV_KNOWS_SINGLE_THREADED 1
#endif
#endif

#include "requests/hot_path.h"

class Turn {
 public:
  Turn() = default;
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  QORV_HOT_PATH(04)
  bool try_lock() noexcept {
    if (OnlyThread()) {
      if (state_.load(std::memory_order_relaxed) != kFree) return false;
      state_.store(kTaken, std::memory_order_relaxed);
      return true;
    }
    int free = kFree;
    return state_.compare_exchange_strong(free, kTaken, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void lock() {
    if (!try_lock()) Wait();
  }
  QORV_HOT_PATH(29)
  void unlock() noexcept {
    if (OnlyThread()) {
      state_.store(kFree, std::memory_order_relaxed);
      return;
    }
    if (state_.exchange(kFree, std::memory_order_release) == kAwaited) WakeOne();
  }

 private:
  // kAwaited: taken, and someone may be waiting for it.
  enum : int { kFree, kTaken, kAwaited };

  // Whether the calling thread is the only one in the process, as the C
  // library tells it (it clears the flag before a second thread starts, as
  // its own mutexes rely on): then nobody else can take or wait for the
  // turn. A turn taken this way and given back after the process has
  // started threads is given back atomically, waking whoever waits.
  static bool OnlyThread() noexcept {
#if defined(QORV_KNOWS_SINGLE_THREADED)
    return __libc_single_threaded != 0;
#else
    return false;
#endif
  }
  void Wait();
  void WakeOne() noexcept;

  std::atomic<int> state_{kFree};
  std::mutex waitMutex_;
  std::condition_variable freed_;
};

#endif  // QORV_PLUGIN_TURN_H
