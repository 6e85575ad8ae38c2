// Threads: any host thread may call (one call at a time), Python threads run
// while the host is elsewhere, and Close waits a bounded time for them.
#include <Python.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "lifecycle/opened_plugin.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

// Runs `body` on a thread of its own and waits for it.
template <typename Body>
void OnNewThread(Body body) {
  std::thread(body).join();
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

TEST(HostThreads, OpenRequestsAndCloseEachOnAThreadOfItsOwn) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string exited = run.dir.File("exited.txt");
    for (int cycle = 0; cycle < 3; ++cycle) {
      OnNewThread([&] { ASSERT_TRUE(run.Open()); });
      OnNewThread([&] {
        run.Run("import threading, atexit\n"
                "atexit.register(lambda: open('" + exited + "', 'w').write('ran'))\n"
                "name = threading.current_thread().name");
        EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo first"), "first");
      });
      OnNewThread([&] {
        EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=os.path PYOBJ=join a b"), "a/b");
        EXPECT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter 5"), "o_1");
        EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=o_1 PYOMD=add 2"), "7");
        run.Run("assert isinstance(name, str)");
      });
      // The host threads that called are no Python threads: Close has
      // nothing to wait for.
      CaptureStderr();
      const auto start = std::chrono::steady_clock::now();
      OnNewThread([&] { EXPECT_TRUE(run.plugin.Close()); });
      EXPECT_LT(SecondsSince(start), 1.0);
      EXPECT_THAT(GetCapturedStderr(), Not(HasSubstr("threads still running")));
      EXPECT_EQ(ReadFile(exited), "ran") << "cycle " << cycle;
      EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe) << "cycle " << cycle;
      std::remove(exited.c_str());
    }
    OnNewThread([&] { ASSERT_TRUE(run.Open()); });
    EXPECT_EQ(run.Ask("PyRunSimpleString", "name"), "FALSE");  // a fresh main namespace
  });
}

TEST(HostThreads, MoreThreadsThanStatesAreKeptFor) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    for (int i = 0; i < 100; ++i) {
      OnNewThread([&] {
        EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo " + std::to_string(i)),
                  std::to_string(i));
      });
    }
    CaptureStderr();
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_THAT(GetCapturedStderr(), Not(HasSubstr("threads still running")));
  });
}

TEST(PythonThreads, RunWhileTheHostIsElsewhere) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    run.Run("import threading, time\n"
            "ticks = [0]\n"
            "stop = threading.Event()\n"
            "def tick():\n"
            "    while not stop.is_set():\n"
            "        ticks[0] += 1\n"
            "        time.sleep(0.002)\n"
            "ticker = threading.Thread(target=tick)\n"
            "ticker.start()");
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    run.Run("stop.set(); ticker.join()\nassert ticks[0] >= 20, ticks[0]");
  });
}

// A Python thread that computes holds the global lock most of the time: each
// request must wait for it rather than run Python beside it.
TEST(PythonThreads, RequestsTakeTheLockFromAThreadThatComputes) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    run.Run("import threading\n"
            "spins = [0]\n"
            "stop = threading.Event()\n"
            "def spin():\n"
            "    while not stop.is_set():\n"
            "        spins[0] += 1\n"
            "spinner = threading.Thread(target=spin)\n"
            "spinner.start()\n"
            "seen = []");
    for (int i = 0; i < 100; ++i) {
      run.Run("seen.append(spins[0])");
      ASSERT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo " + std::to_string(i)),
                std::to_string(i));
    }
    run.Run("stop.set(); spinner.join()\n"
            "assert len(seen) == 100 and seen == sorted(seen), seen");
  });
}

TEST(PythonThreads, CloseWaitsForAThreadThatEndsSoon) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    const std::string done = run.dir.File("done.txt");
    run.Run("import threading, time\n"
            "def work():\n"
            "    time.sleep(0.2)\n"
            "    open('" + done + "', 'w').write('finished')\n"
            "threading.Thread(target=work).start()");
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_EQ(ReadFile(done), "finished");
    EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe);
  });
}

// threading takes the thread that first imports it for Python's main thread,
// and Python's own shutdown waits for that thread's state to go. A host
// thread is no Python thread: whether it has ended or only went idle, Close
// on another thread neither hangs nor waits for it.
TEST(HostThreads, CloseOnAnotherThreadThanTheOneThatImportedThreading) {
  for (bool importerEnds : {true, false}) {
    RunInChildProcess([importerEnds] {
      PluginRun run;
      ASSERT_TRUE(run.Open());
      std::mutex mutex;
      std::condition_variable wake;
      bool imported = false, done = false;
      std::thread importer([&] {
        run.Run("import threading\nmain_name = threading.main_thread().name if hasattr(threading, 'main_thread') else ''");
        std::unique_lock<std::mutex> lock(mutex);
        imported = true;
        wake.notify_all();
        if (!importerEnds) wake.wait(lock, [&] { return done; });
      });
      {
        std::unique_lock<std::mutex> lock(mutex);
        wake.wait(lock, [&] { return imported; });
      }
      if (importerEnds) importer.join();
      CaptureStderr();
      const auto start = std::chrono::steady_clock::now();
      OnNewThread([&] { EXPECT_TRUE(run.plugin.Close()); });
      EXPECT_LT(SecondsSince(start), 1.0);
      EXPECT_THAT(GetCapturedStderr(), Not(HasSubstr("threads still running")));
      EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe);
      {
        const std::lock_guard<std::mutex> lock(mutex);
        done = true;
      }
      wake.notify_all();
      if (!importerEnds) importer.join();
      ASSERT_TRUE(run.Open());
      EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo after"), "after");
    });
  }
}

// A thread pool whose workers wait for work: the pool that only the run held
// goes with the run's namespace, and its workers end; one that a module holds
// is no reason to wait either. Where the interpreter is shut down, the pools'
// own at-exit hooks stop them first.
TEST(PythonThreads, IdleThreadPoolsDoNotHoldUpClose) {
  if (std::string(QORV_PYTHON_MAJOR_MINOR).rfind("2.", 0) == 0) {
    GTEST_SKIP() << "Python 2 has no concurrent.futures";
  }
  for (const char* holder : {"pool", "tools.pool"}) {
    RunInChildProcess([holder] {
      PluginRun run;
      ASSERT_TRUE(run.Open());
      run.Run(std::string("import concurrent.futures, tools\n") + holder +
              " = concurrent.futures.ThreadPoolExecutor(4)\n"
              "assert list(" + holder + ".map(abs, [-1, -2, -3, -4])) == [1, 2, 3, 4]");
      CaptureStderr();
      const auto start = std::chrono::steady_clock::now();
      EXPECT_TRUE(run.plugin.Close());
      EXPECT_LT(SecondsSince(start), 1.0) << holder;
      EXPECT_THAT(GetCapturedStderr(), Not(HasSubstr("threads still running"))) << holder;
      EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe) << holder;
      // A pool of a kept interpreter still works in the next run.
      ASSERT_TRUE(run.Open());
      run.Run("import concurrent.futures, tools\n"
              "if not hasattr(tools, 'pool'): tools.pool = concurrent.futures.ThreadPoolExecutor(2)\n"
              "assert tools.pool.submit(abs, -5).result(timeout=5) == 5");
    });
  }
}

// A thread that does not end in time keeps the interpreter running: shutting
// it down would wait forever for it, or let it crash the host later. Where
// the interpreter is kept anyway, Close waits only for the threads that
// Python itself waits for at exit (threading's non-daemon ones).
struct LeftThread {
  const char* name;
  const char* starter;
  bool waitedForWhenKept;
};

const LeftThread kLeftThreads[] = {
    {"threading", "import threading\ndef start(run): threading.Thread(target=run).start()\n", true},
    {"daemon",
     "import threading\n"
     "def start(run): t = threading.Thread(target=run); t.daemon = True; t.start()\n",
     false},
    {"low-level",
     "try:\n    import _thread as low\nexcept ImportError:\n    import thread as low\n"
     "def start(run): low.start_new_thread(run, ())\n",
     false},
};

class LeftThreadTest : public ::testing::TestWithParam<LeftThread> {};

TEST_P(LeftThreadTest, KeepsTheInterpreterAndIsNamedAtClose) {
  const LeftThread left = GetParam();
  RunInChildProcess([left] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    // The flag lives in a module, which outlives the run's main namespace.
    run.Run(std::string(left.starter) +
            "import time, tools\n"
            "tools.stopped = []\n"
            "def loop():\n"
            "    while not tools.stopped:\n"
            "        time.sleep(0.01)\n"
            "    tools.stopped.append('done')\n"
            "start(loop)");
    CaptureStderr();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(run.plugin.Close());  // returns after its bounded wait, if any
    const bool waited = kRestartIsSafe || left.waitedForWhenKept;
    EXPECT_LT(SecondsSince(start), waited ? 10.0 : 1.0);
    const std::string printed = GetCapturedStderr();
    if (waited) {
      EXPECT_THAT(printed, HasSubstr("threads still running"));
    } else {
      EXPECT_THAT(printed, Not(HasSubstr("threads still running")));
    }
    EXPECT_EQ(Py_IsInitialized(), 1);
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "NONE");

    // The next Open carries on with the same interpreter, the thread still
    // running; once it has ended, Close shuts down where that is safe.
    ASSERT_TRUE(run.Open());
    run.Run("import time, tools\n"
            "tools.stopped.append('stop')\n"
            "deadline = time.time() + 5\n"
            "while len(tools.stopped) < 2 and time.time() < deadline: time.sleep(0.01)\n"
            "assert tools.stopped == ['stop', 'done'], tools.stopped");
    CaptureStderr();
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_THAT(GetCapturedStderr(), Not(HasSubstr("threads still running")));
    EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe);
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo again"), "again");
  });
}

INSTANTIATE_TEST_SUITE_P(Started, LeftThreadTest, ::testing::ValuesIn(kLeftThreads),
                         [](const auto& info) {
                           std::string name = info.param.name;
                           name.erase(std::remove(name.begin(), name.end(), '-'), name.end());
                           return name;
                         });

}  // namespace
