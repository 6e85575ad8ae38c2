// The turn that serves requests one at a time. Taking a free turn and giving
// it back are one atomic operation each, inline; only a caller that has to
// wait uses the mutex and condition variable. It is a lock in the standard
// library's sense (lock, try_lock, unlock), for std::lock_guard and the like.
#ifndef QORV_PLUGIN_TURN_H
#define QORV_PLUGIN_TURN_H

#include <atomic>
#include <condition_variable>
#include <mutex>

class Turn {
 public:
  Turn() = default;
  Turn(const Turn&) = delete;
  Turn& operator=(const Turn&) = delete;

  bool try_lock() noexcept {
    int free = kFree;
    return state_.compare_exchange_strong(free, kTaken, std::memory_order_acquire, std::memory_order_relaxed);
  }
  void lock() {
    if (!try_lock()) Wait();
  }
  void unlock() noexcept {
    if (state_.exchange(kFree, std::memory_order_release) == kAwaited) WakeOne();
  }

 private:
  // kAwaited: taken, and someone may be waiting for it.
  enum : int { kFree, kTaken, kAwaited };
  void Wait();
  void WakeOne() noexcept;

  std::atomic<int> state_{kFree};
  std::mutex waitMutex_;
  std::condition_variable freed_;
};

#endif  // QORV_PLUGIN_TURN_H
