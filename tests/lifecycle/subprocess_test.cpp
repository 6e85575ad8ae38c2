// Python code that starts Python processes gets the embedded Python.
#include <gtest/gtest.h>

#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

TEST(Subprocesses, SysExecutableIsTheEmbeddedPython) {
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    run.Run("import subprocess\n"
            "out = subprocess.check_output([sys.executable, '-c',\n"
            "    'import sys; sys.stdout.write(\"%d.%d\" % sys.version_info[:2])'])\n"
            "assert out.decode() == '" QORV_PYTHON_MAJOR_MINOR "', (sys.executable, out)");
  });
}

TEST(Subprocesses, MultiprocessingWithTheSpawnMethod) {
  if (std::string(QORV_PYTHON_MAJOR_MINOR).rfind("2.", 0) == 0) {
    GTEST_SKIP() << "Python 2 has no spawn method";
  }
  RunInChildProcess([] {
    PluginRun run;
    ASSERT_TRUE(run.Open());
    run.Run("import multiprocessing\n"
            "with multiprocessing.get_context('spawn').Pool(2) as pool:\n"
            "    assert pool.map(abs, [-1, -2, 3]) == [1, 2, 3]");
  });
}

}  // namespace
