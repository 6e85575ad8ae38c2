// The Python environment a run asks for: a virtual environment (venv=), and
// module directories put first on sys.path for the run (pythonpath=).
#include <Python.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

constexpr bool kPython2 = PY_MAJOR_VERSION == 2;

// A virtual environment made by the embedded Python: with its venv module,
// or on Python 2.7 with virtualenv (Debian's python3-virtualenv).
void MakeVirtualEnvironment(const std::string& directory) {
  const std::string command =
      kPython2 ? "/usr/bin/python3 -m virtualenv -q --no-seed --no-periodic-update -p " QORV_PYTHON_PROGRAM " '" +
                     directory + "'"
               : QORV_PYTHON_PROGRAM " -m venv --without-pip '" + directory + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

// Where the embedded installation lives: <prefix>/bin/pythonX.Y.
std::string InstallationPrefix() {
  const std::string program = QORV_PYTHON_PROGRAM;
  const std::string bin = program.substr(0, program.rfind('/'));
  return bin.substr(0, bin.rfind('/'));
}

std::string SitePackages(const std::string& venv) {
  return venv + "/lib/python" QORV_PYTHON_MAJOR_MINOR "/site-packages";
}

void WriteSettings(PluginRun& run, const std::string& keys) {
  run.dir.Write("qorv_python.ini",
                "[QORV_PYTHON]\nprefix=" + run.dir.path() + "\nscriptdir=scripts1\n" + keys);
}

// The run sees the environment as its own python would: its site-packages
// with their .pth files, sys.prefix, and sys.executable, which subprocesses
// and multiprocessing's spawn workers run.
TEST(Environment, VirtualEnvironmentAsItsOwnPythonSeesIt) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string venv = run.dir.File("venv");
    MakeVirtualEnvironment(venv);
    const std::string site = SitePackages(venv);
    run.dir.Write(site.substr(run.dir.path().size() + 1) + "/inside.py",
                  "import sys\nwhere = 'venv'\ndef prefix():\n    return sys.prefix\n");
    run.dir.Write("beside/beside.py", "where = 'pth'\n");
    run.dir.Write(site.substr(run.dir.path().size() + 1) + "/beside.pth", run.dir.File("beside") + "\n");
    WriteSettings(run, "venv=venv\n");  // relative: below the prefix
    ASSERT_TRUE(run.Open());
    run.Run("import inside, beside\n"
            "assert (inside.where, beside.where) == ('venv', 'pth')\n"
            "assert sys.prefix == '" + venv + "', sys.prefix\n"
            "assert sys.executable.startswith('" + venv + "/bin/python'), sys.executable\n"
            "base = getattr(sys, 'base_prefix', getattr(sys, 'real_prefix', None))\n"
            "assert base == '" + InstallationPrefix() + "', base\n"
            "import subprocess\n"
            "out = subprocess.check_output([sys.executable, '-c', 'import sys; sys.stdout.write(sys.prefix)'])\n"
            "assert out.decode() == sys.prefix, out");
    if (!kPython2) {
      run.Run("import multiprocessing, inside\n"
              "with multiprocessing.get_context('spawn').Pool(1) as pool:\n"
              "    assert pool.apply(inside.prefix) == sys.prefix\n");
    }
  });
}

// The installation's own site directories are on sys.path exactly when the
// environment's pyvenv.cfg says so.
TEST(Environment, SystemSitePackagesAsPyvenvCfgSays) {
  if (kPython2) GTEST_SKIP() << "virtualenv's own site.py reads it on Python 2";
  for (bool included : {false, true}) {
    RunInChildProcess([included] {
      PluginRun run;
      const std::string venv = run.dir.File("venv");
      MakeVirtualEnvironment(venv);
      std::string configuration = ReadFile(venv + "/pyvenv.cfg");
      const std::string key = "include-system-site-packages = false";
      configuration.replace(configuration.find(key), key.size(),
                            std::string("include-system-site-packages = ") + (included ? "true" : "false"));
      run.dir.Write("venv/pyvenv.cfg", configuration);
      WriteSettings(run, "venv=venv\n");
      ASSERT_TRUE(run.Open());
      run.Run(std::string("import os, site\n"
                          "system = [d for d in site.getsitepackages([sys.base_prefix]) if os.path.isdir(d)]\n"
                          "assert system, 'the installation has no site directory'\n"
                          "assert all((d in sys.path) == ") + (included ? "True" : "False") +
              " for d in system), (system, sys.path)");
    });
  }
}

struct BadEnvironment {
  const char* name;
  const char* pyvenv;  // null: none
  const char* reason;
};

const BadEnvironment kBadEnvironments[] = {
    {"NoPyvenvCfg", nullptr, "is no virtual environment: it has no pyvenv.cfg"},
    {"AnotherVersion", "home = /usr/bin\nversion = 3.1.4\n", "was made by Python 3.1, and the plugin embeds Python"},
    {"AnotherInstallation", "home = /opt/elsewhere/bin\nversion = " QORV_PYTHON_MAJOR_MINOR ".0\n",
     "was made by the Python in '/opt/elsewhere/bin'"},
};

class BadEnvironmentTest : public ::testing::TestWithParam<BadEnvironment> {};

TEST_P(BadEnvironmentTest, OpenFailsWithTheReason) {
  const BadEnvironment bad = GetParam();
  RunInChildProcess([bad] {
    PluginRun run;
    run.dir.Write("notvenv/bin/marker", "");
    if (bad.pyvenv != nullptr) run.dir.Write("notvenv/pyvenv.cfg", bad.pyvenv);
    WriteSettings(run, "venv=" + run.dir.File("notvenv") + "\n");
    CaptureStderr();
    EXPECT_FALSE(run.plugin.Open(run.dir.path().c_str()));
    EXPECT_THAT(GetCapturedStderr(), HasSubstr(bad.reason));
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "NONE");
  });
}

INSTANTIATE_TEST_SUITE_P(Environment, BadEnvironmentTest, ::testing::ValuesIn(kBadEnvironments),
                         [](const auto& info) { return std::string(info.param.name); });

// A kept interpreter lives on with its environment: a later run cannot switch.
// (decimal keeps the interpreter on every version.)
TEST(Environment, AKeptInterpreterCannotSwitch) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string venv = run.dir.File("venv");
    MakeVirtualEnvironment(venv);
    WriteSettings(run, "venv=venv\n");
    ASSERT_TRUE(run.Open());
    run.Run("import decimal");
    ASSERT_TRUE(run.plugin.Close());
    WriteSettings(run, "");
    CaptureStderr();
    EXPECT_FALSE(run.plugin.Open(run.dir.path().c_str()));
    EXPECT_THAT(GetCapturedStderr(),
                HasSubstr("Python runs with the virtual environment '" + venv +
                          "' and lives on across Close here: a run cannot switch it to no virtual environment"));
    WriteSettings(run, "venv=venv\n");
    EXPECT_TRUE(run.Open());
  });
}

// pythonpath= entries are first on sys.path for the run, and gone after it,
// also where the interpreter lives on (decimal keeps it).
TEST(Environment, PythonPathEntriesAreTheRunsOwn) {
  RunInChildProcess([] {
    PluginRun run;
    run.dir.Write("one/first.py", "name = 'first'\n");
    run.dir.Write("two/second.py", "name = 'second'\n");
    WriteSettings(run, "pythonpath=one, two\n");
    ASSERT_TRUE(run.Open());
    const std::string one = run.dir.File("one"), two = run.dir.File("two");
    run.Run("import decimal, first, second\n"
            "assert sys.path[1:3] == ['" + one + "', '" + two + "'], sys.path\n");
    ASSERT_TRUE(run.plugin.Close());
    WriteSettings(run, "");
    ASSERT_TRUE(run.Open());
    run.Run("assert '" + one + "' not in sys.path and '" + two + "' not in sys.path, sys.path");
  });
}

}  // namespace
