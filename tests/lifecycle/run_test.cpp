// What a run leaves behind for the next, and what it keeps to itself: an
// earlier run's namespace, functions that outlive it, requests that Python
// code sends from inside a request, and the names requests use.
#include <Python.h>
#include <gtest/gtest.h>

#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

// Functions defined in a run's namespace form a cycle with it: the namespace
// must still go at Close, not pile up run after run.
TEST(Runs, AnEarlierRunsNamespaceGoesWhenNothingUsesIt) {
  RunInChildProcess([] {
    PluginRun run;
    long afterFirst = 0;
    for (int cycle = 0; cycle < 4; ++cycle) {
      ASSERT_TRUE(run.Open());
      run.Run("data = b'x' * (50 * 1024 * 1024)\n"
              "def uses_data():\n    return len(data)");
      ASSERT_TRUE(run.plugin.Close());
      if (cycle == 0) afterFirst = ResidentKiB();
    }
    if (kMemoryIsMeasurable) {
      EXPECT_LT(ResidentKiB() - afterFirst, 25 * 1024) << "KiB grown after the first run";
    }
  });
}

// A function of an earlier run that lives on elsewhere (a callback, a
// logging handler, sys.excepthook) keeps its globals; Python 2 would set them
// all to None when the run's main module goes. decimal keeps the interpreter
// running on every version.
TEST(Runs, FunctionsOfAnEarlierRunKeepTheirGlobals) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    run.Run("import decimal, tools\n"
            "greeting = 'hello'\n"
            "def greet():\n    return greeting + ' ' + str(decimal.Decimal('1.5'))\n"
            "tools.callbacks.append(greet)");
    ASSERT_TRUE(run.plugin.Close());
    ASSERT_EQ(Py_IsInitialized(), 1);
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=call_callbacks"), "hello 1.5");
    EXPECT_EQ(run.Ask("PyRunSimpleString", "greeting"), "FALSE");  // the new run's namespace is its own
  });
}

// Where the interpreter lives on, so do its modules: Close runs the run's
// at-exit hooks, but not those that end a module's service for good (a
// logging handler closed, and opened again with mode 'w', would empty its
// file). decimal keeps the interpreter running on every version.
TEST(Runs, ModulesThatLiveOnKeepServing) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string log = run.dir.File("app.log");
    ASSERT_TRUE(run.Open());
    run.Run("import decimal, logging, tools\n"
            "tools.logger = logging.getLogger('app')\n"
            "tools.logger.addHandler(logging.FileHandler('" + log + "', mode='w'))\n"
            "tools.logger.warning('first run')\n"
            "import atexit\n"
            "atexit.register(lambda: tools.logger.warning('the first run ends'))");
    ASSERT_TRUE(run.plugin.Close());
    ASSERT_TRUE(run.Open());
    run.Run("import tools\ntools.logger.warning('second run')");
    ASSERT_TRUE(run.plugin.Close());
    EXPECT_EQ(ReadFile(log), "first run\nthe first run ends\nsecond run\n");
  });
}

// Python code in a request may call the plugin again (here through ctypes):
// the inner request is served, and the outer one keeps its own parameters
// and answer.
TEST(Runs, RequestsFromInsideARequest) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=made_after_create SETID=abc"), "abc");
    EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=abc PYOMD=inner"), "o_1");
    EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=o_1 PYOMD=add 2"), "2");
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo_after_echo outer"), "outer/inner");
    const Answer answer = Send(run.plugin, "PyCallObject", "PYMOD=tools PYOBJ=echo_after_echo again");
    EXPECT_EQ(answer.text, "again/inner");
    EXPECT_EQ(answer.buffer, "again/inner");
    // Open and Close from inside a request are refused; the run goes on.
    run.Run("import ctypes, tools\n"
            "assert tools.request('PyRunSimpleString', 'nested_ran = True') == 'TRUE'\n"
            "assert nested_ran");
    EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=abc PYOMD=inner"), "o_1");
  });
}

// Module and attribute names are not interned (an interned name lives for
// ever on Python 3.12): many distinct names leave no memory behind.
TEST(Runs, DistinctNamesLeaveNoMemoryBehind) {
  if (!kMemoryIsMeasurable) GTEST_SKIP() << "memory is not measured under AddressSanitizer";
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    // Every name fails; printing the failures is not what is measured.
    run.Run("import os, sys\nsys.stderr = open(os.devnull, 'w')");
    const auto send = [&](int first, int count) {
      for (int i = first; i < first + count; ++i) {
        const std::string n = std::to_string(i);
        run.Ask("PyCallObject", "PYMOD=tools PYOBJ=attribute_" + n);
        if (i % 5 == 0) run.Ask("PyCallObject", "PYMOD=module_" + n + " PYOBJ=f");
      }
    };
    send(0, 20000);
    const long before = ResidentKiB();
    send(20000, 100000);
    EXPECT_LT(ResidentKiB() - before, 2048) << "KiB grown over 100,000 names and 20,000 modules";
  });
}

}  // namespace
