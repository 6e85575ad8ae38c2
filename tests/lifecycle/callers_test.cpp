// Many host threads calling at once: requests are served one after another,
// each thread gets the answer to its own request (returned and in its own
// buffer), and Open and Close racing with requests never crash.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "lifecycle/opened_plugin.h"

namespace {

constexpr int kThreads = 8;

// Rounds of requests per thread: QORV_STRESS_ROUNDS sets fewer where each
// request costs hundreds of times more (under ThreadSanitizer).
int Rounds(int usual) {
  const char* rounds = std::getenv("QORV_STRESS_ROUNDS");
  return rounds != nullptr && std::atoi(rounds) > 0 ? std::atoi(rounds) : usual;
}

// One round of mixed requests of thread `t`, each with an answer that only
// this thread and round can have. With `runMayClose`, any request may also
// meet a closed run and answer NONE; nothing else is allowed.
void Round(PluginBase& plugin, int t, int i, bool runMayClose) {
  const std::string me = "t" + std::to_string(t) + "_" + std::to_string(i);
  const std::string id = "c" + std::to_string(t);
  struct Step {
    const char* function;
    std::string parameters;
    std::string answer;
  } const steps[] = {
      {"PyCallObject", "PYMOD=tools PYOBJ=echo " + me, me},
      {"PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=" + id + " " + std::to_string(i), id},
      {"PyCallObjectMethod", "PYOBJ=" + id + " PYOMD=add 1", std::to_string(i + 1)},
      {"PyRunSimpleString", "v_" + id + " = '" + me + "'", "TRUE"},
      // Gives Python's lock up half-way: requests are still served one after
      // another, so no other request's code runs in between.
      {"PyRunSimpleString",
       "import time\nshared = '" + me + "'\ntime.sleep(0.0005)\nassert shared == '" + me + "', shared",
       "TRUE"},
      {"PyCallObject", "PYMOD=tools PYOBJ=join 'a " + me + "' b", "a " + me + "|b"},
      {"PyRemoveObject", id, "TRUE"},
      {"PyCallObject", "PYMOD=tools PYOBJ=built " + std::to_string(i % 50), std::string(i % 50, 'x')},
  };
  for (const Step& step : steps) {
    const Answer answer = Send(plugin, step.function, step.parameters);
    EXPECT_EQ(answer.text, answer.buffer) << step.function << " " << step.parameters;
    if (runMayClose && (answer.text == "NONE" || answer.text == "FALSE")) continue;
    ASSERT_EQ(answer.text, step.answer) << step.function << " " << step.parameters;
  }
}

TEST(ManyCallers, EachThreadGetsItsOwnAnswers) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    // Failures print; the printing is not what is tested.
    run.Run("import os\nsys.stderr = open(os.devnull, 'w')");
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&run, t] {
        const int rounds = Rounds(2000 / 7 + 1);  // 2,000 requests
        for (int i = 0; i < rounds; ++i) Round(run.plugin, t, i, false);
      });
    }
    for (std::thread& thread : threads) thread.join();
    run.Run("assert v_c0.startswith('t0_') and v_c7.startswith('t7_')");
  });
}

TEST(ManyCallers, OpenAndCloseRaceWithRequests) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    std::atomic<bool> stop{false};
    std::thread reopener([&] {
      while (!stop) {
        run.plugin.Close();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (!run.Open()) ADD_FAILURE() << "Open failed";
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
      }
    });
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&run, t] {
        const int rounds = Rounds(300);
        for (int i = 0; i < rounds; ++i) Round(run.plugin, t, i, true);
      });
    }
    for (std::thread& thread : threads) thread.join();
    stop = true;
    reopener.join();
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo alive"), "alive");
  });
}

}  // namespace
