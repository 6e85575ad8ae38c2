// The host stays in control: a time limit for every request, and PyInterrupt
// from any thread. A stopped request answers FALSE or NONE with one reason
// line, and the run goes on.
#include <dirent.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <thread>

#include "lifecycle/opened_plugin.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Threads of this process.
int ThreadCount() {
  int count = 0;
  DIR* tasks = opendir("/proc/self/task");
  while (dirent* entry = readdir(tasks)) count += entry->d_name[0] != '.';
  closedir(tasks);
  return count;
}

void OpenWithTimeLimit(PluginRun& run, const char* seconds) {
  run.dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=" + run.dir.path() +
                                       "\nscriptdir=scripts1\ntimeout=" + seconds + "\n");
  ASSERT_TRUE(run.Open());
}

struct Runaway {
  const char* name;
  const char* function;
  const char* parameters;
  const char* answer;
};

const Runaway kRunaways[] = {
    {"Loop", "PyRunSimpleString", "while True: pass", "FALSE"},
    {"LoopInACalledFunction", "PyCallObject", "PYMOD=tools PYOBJ=spin", "NONE"},
    // A few bytecodes between long C calls: Python 2 would look for the stop
    // only every 100 bytecodes, seconds later.
    {"SleepsInALoop", "PyRunSimpleString", "import time\nwhile True: time.sleep(0.1)", "FALSE"},
    {"CatchesException",
     "PyRunSimpleString", "while True:\n    try:\n        sum(range(1000))\n    except Exception:\n        pass",
     "FALSE"},
    // Caught once, raised again a little later. (Python 3.11 and 3.12 do not
    // catch an exception raised at the jump back of a while loop in a try.)
    {"CatchesItOnce", "PyRunSimpleString",
     "import tools\ntry:\n    for _ in iter(int, 1): pass\nexcept BaseException:\n    tools.caught = True\n"
     "while True: pass",
     "FALSE"},
};

class TimeLimitTest : public ::testing::TestWithParam<Runaway> {};

TEST_P(TimeLimitTest, StopsTheRequestAndTheRunGoesOn) {
  const Runaway runaway = GetParam();
  RunInChildProcess([runaway] {
    PluginRun run;
    OpenWithTimeLimit(run, "0.5");
    run.Run("kept = 'before'");
    std::string answer;
    double took = 0;
    const std::string printed = run.CapturePythonStderr([&] {
      const auto start = std::chrono::steady_clock::now();
      answer = run.Ask(runaway.function, runaway.parameters);
      took = SecondsSince(start);
    });
    EXPECT_EQ(answer, runaway.answer);
    const bool caughtOnce = std::string(runaway.name) == "CatchesItOnce";
    EXPECT_GE(took, caughtOnce ? 1.0 : 0.5);
    EXPECT_LT(took, caughtOnce ? 1.5 : 1.0);
    EXPECT_THAT(printed, HasSubstr("qorv_python: " + std::string(runaway.function) + ": stopped after "));
    EXPECT_THAT(printed, HasSubstr(" s (timeout)\n"));
    EXPECT_THAT(printed, Not(HasSubstr("Traceback")));
    // The run goes on: earlier names stay, and the next request is served.
    run.Run("assert kept == 'before'");
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo next"), "next");
  });
}

INSTANTIATE_TEST_SUITE_P(Runaway, TimeLimitTest, ::testing::ValuesIn(kRunaways),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TimeLimit, RequestsUnderTheLimitAreUntouched) {
  RunInChildProcess([] {
    PluginRun run;
    OpenWithTimeLimit(run, "0.5");
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(run.Ask("PyRunSimpleString", "import time\ntime.sleep(0.3)"), "TRUE");
    }
    // The exception says the limit; Python code can catch it by its class.
    run.Run("import qorv_python\n"
            "assert str(qorv_python.RequestTimedOut()) == 'the request ran longer than its time limit of 0.5 s'\n"
            "assert issubclass(qorv_python.RequestTimedOut, qorv_python.RequestStopped)\n"
            "assert not issubclass(qorv_python.RequestStopped, Exception)");
  });
}

// The watchdog thread exists only while a run has a time limit.
TEST(TimeLimit, NoLimitMeansNoHelperThread) {
  RunInChildProcess([] {
    PluginRun run;
    const int before = ThreadCount();
    ASSERT_TRUE(run.Open());
    run.Run("x = 1");
    EXPECT_EQ(ThreadCount(), before);
    ASSERT_TRUE(run.plugin.Close());
    OpenWithTimeLimit(run, "2");
    EXPECT_EQ(ThreadCount(), before + 1);
    ASSERT_TRUE(run.plugin.Close());
    EXPECT_EQ(ThreadCount(), before);
  });
}

TEST(Interrupt, StopsTheRequestThatAnotherThreadRuns) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyInterrupt", ""), "FALSE");  // nothing runs
    run.Run("kept = 'before'");
    const std::string started = run.dir.File("started");
    std::string answer;
    std::chrono::steady_clock::time_point answered;
    std::thread runner([&] {
      answer = run.Ask("PyRunSimpleString", "open('" + started + "', 'w').close()\nwhile True: pass");
      answered = std::chrono::steady_clock::now();
    });
    while (access(started.c_str(), F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const auto sent = std::chrono::steady_clock::now();
    EXPECT_EQ(run.Ask("PyInterrupt", "ignored"), "TRUE");
    EXPECT_LT(SecondsSince(sent), 0.1);
    runner.join();
    EXPECT_EQ(answer, "FALSE");
    EXPECT_LT(std::chrono::duration<double>(answered - sent).count(), 1.0);
    run.Run("assert kept == 'before'");
    EXPECT_EQ(run.Ask("PyInterrupt", ""), "FALSE");
    // The reason says what stopped it.
    std::thread again([&] { run.Ask("PyRunSimpleString", "open('" + started + "2', 'w').close()\nwhile True: pass"); });
    while (access((started + "2").c_str(), F_OK) != 0) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    testing::internal::CaptureStderr();
    EXPECT_EQ(run.Ask("PyInterrupt", ""), "TRUE");
    again.join();
    EXPECT_THAT(testing::internal::GetCapturedStderr(),
                HasSubstr("qorv_python: PyRunSimpleString: stopped (interrupted)\n"));
    ASSERT_TRUE(run.plugin.Close());
    EXPECT_EQ(run.Ask("PyInterrupt", ""), "NONE");
  });
}

TEST(Interrupt, AnswersNoneOutsideARun) {
  RunInChildProcess([] {
    PluginRun run;
    EXPECT_EQ(run.Ask("PyInterrupt", ""), "NONE");
  });
}

}  // namespace
