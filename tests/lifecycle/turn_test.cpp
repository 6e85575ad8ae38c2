// The turn that serves requests one at a time, on its own: every holder is
// alone, and a waiter gets the turn when it is given back, however many wait,
// also when the turn was taken while the process had only one thread.
#include "plugin/turn.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <vector>

#include "support/child_process.h"

namespace {

TEST(Turn, OneHolderAtATimeAndNoWaiterLeftBehind) {
  constexpr int kThreads = 6;
  constexpr int kRounds = 20000;
  Turn turn;
  int holders = 0;  // plain ints: the turn alone guards them
  long long counted = 0;
  bool overlapped = false;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kRounds; ++i) {
        // Half the takers try first, as the plugin does, then wait.
        if (t % 2 == 0 || !turn.try_lock()) turn.lock();
        const std::lock_guard<Turn> held(turn, std::adopt_lock);
        overlapped = overlapped || ++holders != 1;
        ++counted;
        if (i % 1000 == 0) std::this_thread::yield();  // waiters pile up behind a holder
        --holders;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_FALSE(overlapped);
  EXPECT_EQ(counted, static_cast<long long>(kThreads) * kRounds);
  // Given back for good: it can be taken at once.
  EXPECT_TRUE(turn.try_lock());
  EXPECT_FALSE(turn.try_lock());
  turn.unlock();
}

// Taken while the process has one thread (a fresh child), the turn is kept
// from a thread started meanwhile, and handed to it when given back.
TEST(Turn, TakenWhileAloneIsHandedToAThreadStartedMeanwhile) {
  RunInChildProcess(
      [] {
        Turn turn;
        turn.lock();
        std::atomic<bool> got{false};
        std::thread waiter([&] {
          turn.lock();
          got = true;
          turn.unlock();
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(50));  // the waiter is asleep by now
        EXPECT_FALSE(got.load());
        turn.unlock();
        waiter.join();  // a lost wake-up hangs here, and the child is failed for it
        EXPECT_TRUE(got.load());
      },
      30);
}

}  // namespace
