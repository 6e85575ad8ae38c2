#include "plugin/turn.h"

// A waiter marks the turn awaited whenever it finds it taken, under the wait
// mutex, before it sleeps; the holder that gives an awaited turn back wakes
// one waiter under the same mutex, so no wake-up falls between the mark and
// the sleep. The waiter that gets the turn keeps it marked awaited: others may
// still wait, and its own unlock then wakes the next.
void Turn::Wait() {
  std::unique_lock<std::mutex> lock(waitMutex_);
  while (state_.exchange(kAwaited, std::memory_order_acquire) != kFree) freed_.wait(lock);
}

void Turn::WakeOne() noexcept {
  const std::lock_guard<std::mutex> lock(waitMutex_);
  freed_.notify_one();
}
