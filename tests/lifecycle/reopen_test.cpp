// Many Close and Open cycles: never a crash, and memory that stays flat.
#include <gtest/gtest.h>

#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

constexpr long kAllowedGrowthKiB = 5 * 1024;

// Runs `cycles` Open/Close cycles with `work` in each; resident memory after
// the last may exceed that after the tenth by 5 MB at most.
void Cycle(PluginRun& run, int cycles, const std::string& work) {
  long afterTenth = 0;
  for (int cycle = 1; cycle <= cycles; ++cycle) {
    ASSERT_TRUE(run.Open()) << "cycle " << cycle;
    ASSERT_EQ(run.Ask("PyRunSimpleString", work), "TRUE") << "cycle " << cycle;
    ASSERT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
    ASSERT_EQ(run.Ask("PyCallObject", "PYMOD=json PYOBJ=dumps x"), "\"x\"");
    ASSERT_TRUE(run.plugin.Close());
    if (cycle == 10) afterTenth = ResidentKiB();
  }
  if (kMemoryIsMeasurable) {
    EXPECT_LE(ResidentKiB() - afterTenth, kAllowedGrowthKiB) << "KiB grown from cycle 10";
  }
}

TEST(Reopen, HundredCyclesWithCommonExtensionModules) {
  RunInChildProcess([] {
    PluginRun run;
    Cycle(run, 100,
          "import datetime, decimal, ctypes, json, sqlite3\n"
          "d = datetime.date(2026, 1, 2) + datetime.timedelta(days=1)\n"
          "assert decimal.Decimal('1.1') + 1 == decimal.Decimal('2.1')\n"
          "assert ctypes.c_int(3).value == 3\n"
          "db = sqlite3.connect(':memory:')\n"
          "assert db.execute('select 1').fetchone() == (1,)\n"
          "db.close()\n"
          "assert json.loads(json.dumps([d.isoformat()])) == ['2026-01-03']");
  });
}

// Pure-Python modules only: where a restart is safe, each Close shuts the
// interpreter down and each Open starts a new one.
TEST(Reopen, HundredCyclesWithPurePythonModules) {
  RunInChildProcess([] {
    PluginRun run;
    Cycle(run, 100, "import os.path, collections, string\nx = collections.OrderedDict(a=1)");
  });
}

// Debian's numpy, which the test script installs, is built for Debian's Python.
TEST(Reopen, HundredCyclesWithNumpy) {
  if (std::string(QORV_PYTHON_LIBRARY).rfind("/usr/lib/", 0) != 0) {
    GTEST_SKIP() << "numpy is tried with Debian's Python only";
  }
  RunInChildProcess([] {
    PluginRun run;
    Cycle(run, 100, "import numpy\nassert int(numpy.arange(10).sum()) == 45");
  });
}

}  // namespace
