// Python code that starts Python processes gets the embedded Python, whatever
// Python comes first on the PATH.
#include <sys/stat.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

// Puts programs named as Python's are first on the PATH, which run no Python.
void PutAnotherPythonFirstOnThePath(PluginRun& run) {
  for (const char* name : {"python", "python2", "python3", "python" QORV_PYTHON_MAJOR_MINOR}) {
    const std::string path = run.dir.Write(std::string("decoy/") + name, "#!/bin/sh\necho decoy\n");
    ASSERT_EQ(chmod(path.c_str(), 0755), 0);
  }
  const char* path = std::getenv("PATH");
  setenv("PATH", (run.dir.File("decoy") + ":" + (path != nullptr ? path : "")).c_str(), 1);
}

TEST(Subprocesses, SysExecutableIsTheEmbeddedPython) {
  RunInChildProcess([] {
    PluginRun run;
    PutAnotherPythonFirstOnThePath(run);
    ASSERT_TRUE(run.Open());
    run.Run("import subprocess\n"
            "assert sys.executable == '" QORV_PYTHON_PROGRAM "', sys.executable\n"
            "out = subprocess.check_output([sys.executable, '-c',\n"
            "    'import sys; sys.stdout.write(sys.version)'])\n"
            "assert out.decode() == sys.version, (out, sys.version)");
  });
}

TEST(Subprocesses, MultiprocessingWithTheSpawnMethod) {
  if (std::string(QORV_PYTHON_MAJOR_MINOR).rfind("2.", 0) == 0) {
    GTEST_SKIP() << "Python 2 has no spawn method";
  }
  RunInChildProcess([] {
    PluginRun run;
    PutAnotherPythonFirstOnThePath(run);
    ASSERT_TRUE(run.Open());
    run.Run("import multiprocessing\n"
            "with multiprocessing.get_context('spawn').Pool(2) as pool:\n"
            "    assert pool.map(abs, [-1, -2, 3]) == [1, 2, 3]");
  });
}

}  // namespace
