// qorv-host as scripts use it: the exit status, stopping at the first failed
// request, where a session file's failures come from, the GNU option forms
// and --version.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/host_process.h"
#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::StartsWith;

// Defined first by the cases that call them.
const char kHelpers[] =
    "def quiet(): pass\n"
    "def split_reason():\n"
    "    sys.stderr.write('qorv_'); sys.stderr.flush()\n"
    "    sys.stderr.write('python: written in two parts\\n')\n";

TEST(HostScripting, ExitStatusTellsWhetherEveryRequestSucceeded) {
  struct Case {
    std::vector<std::string> args;
    int status;
    const char* out;
    const char* err;  // somewhere on standard error: the watch passes it on
  } cases[] = {
      // Without the option the status says only that the requests were sent.
      {{"PyRunSimpleString", "1/0", "NoSuchRequest", "x"}, 0, "FALSE\nNONE\n", "ZeroDivisionError"},
      // A NONE with no reason is a procedure's answer; text that is not at
      // a line's start is no reason.
      {{"--exit-status", "PyRunSimpleString", kHelpers, "PyCallObject", "PYMOD=__main__ PYOBJ=quiet",
        "PyRunSimpleString", "sys.stderr.write('not a qorv_python: reason\\n')"},
       0, "TRUE\nNONE\nTRUE\n", "not a qorv_python: reason\n"},
      // A failure does not stop the requests after it.
      {{"--exit-status", "PyRunSimpleString", "1/0", "PyRunSimpleString", "print('still sent')"},
       3, "FALSE\nstill sent\nTRUE\n", "ZeroDivisionError"},
      {{"--exit-status", "NoSuchRequest", "x"},
       3, "NONE\n", "qorv_python: NoSuchRequest: no request is named 'NoSuchRequest'\n"},
      {{"--exit-status", "PyRunSimpleString", kHelpers, "PyCallObject",
        "PYMOD=__main__ PYOBJ=split_reason"},
       3, "TRUE\nNONE\n", "qorv_python: written in two parts\n"},
      {{"--stop-on-failure", "PyRemoveObject", "x", "PyRunSimpleString", "print('not sent')"},
       3, "FALSE\n", "no object is held under the id 'x'"},
      {{"--stop-on-failure", "PyRunSimpleString", "x = 1", "NoSuchRequest", "x", "PyRunSimpleString",
        "print('not sent')"},
       3, "TRUE\nNONE\n", "no request is named"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.status, c.status) << c.args[1] << "\n" << run.err;
    EXPECT_EQ(run.out, c.out) << c.args[1];
    EXPECT_THAT(run.err, HasSubstr(c.err)) << c.args[1];
  }
}

// Each failure from a session file is located once: its reason line gets
// FILE:LINE:, and a FALSE with no reason line a line of qorv-host's own,
// after the traceback. What is not a reason line passes unchanged.
TEST(HostScripting, FailuresFromASessionFileNameTheirLine) {
  TempDir dir;
  const std::string session =
      "PyRunSimpleString x = 1\n"
      "# line 2\n"
      "PyRunSimpleString 1/0\n"
      "\n"
      "NoSuchRequest x\n"
      "PyRemoveObject missing\n";
  dir.Write("session.txt", session);
  struct Case {
    std::vector<std::string> args;
    std::string name;
  } cases[] = {
      {{"-C", dir.path(), "-f", "session.txt"}, "session.txt"},
      {{"-C", dir.path(), "-f", "-"}, "<stdin>"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args, session);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "TRUE\nFALSE\nNONE\nFALSE\n");
    const std::string located[] = {
        c.name + ":3: qorv-host: PyRunSimpleString answered FALSE\n",
        c.name + ":5: qorv_python: NoSuchRequest: no request is named 'NoSuchRequest'\n",
        c.name + ":6: qorv_python: PyRemoveObject: no object is held under the id 'missing'\n",
    };
    for (const std::string& line : located) EXPECT_THAT(run.err, HasSubstr(line)) << c.name;
    int locations = 0;
    for (std::size_t at = 0; (at = run.err.find(c.name + ":", at)) != std::string::npos; ++at) {
      ++locations;
    }
    EXPECT_EQ(locations, 3) << run.err;
    EXPECT_THAT(run.err, StartsWith("Traceback (most recent call last):\n")) << run.err;
    EXPECT_LT(run.err.find("ZeroDivisionError"), run.err.find(located[0])) << run.err;
  }
}

// "--name=value", "-fFILE" and "-CDIR" mean what their spaced forms mean.
TEST(HostScripting, GnuOptionFormsAreAccepted) {
  TempDir dir;
  dir.Write("session.txt", "PyRunSimpleString print('from the session')\n");
  std::filesystem::create_directory(dir.File("logs"));
  const std::vector<std::string> forms[] = {
      {"--plugin", QORV_PLUGIN_PATH, "--log-dir", "logs", "-C", dir.path(), "-f", "session.txt"},
      {"--plugin=" QORV_PLUGIN_PATH, "--log-dir=logs", "-C" + dir.path(), "-fsession.txt"},
  };
  for (const std::vector<std::string>& args : forms) {
    std::filesystem::remove(dir.File("logs/qorv_python.txt"));
    const HostRun run = RunHost(args);
    EXPECT_EQ(run.status, 0) << args[0] << "\n" << run.err;
    EXPECT_EQ(run.out, "from the session\nTRUE\n") << args[0];
    EXPECT_EQ(run.err, "") << args[0];
    EXPECT_TRUE(std::filesystem::exists(dir.File("logs/qorv_python.txt"))) << args[0];
  }
}

TEST(HostScripting, VersionNamesTheEmbeddedPython) {
  const HostRun run = RunHost({"--plugin=" QORV_PLUGIN_PATH, "--version"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_THAT(run.out, StartsWith("qorv-host "));
  EXPECT_THAT(run.out, HasSubstr("\nPython " QORV_PYTHON_MAJOR_MINOR "."));
  EXPECT_THAT(run.out, HasSubstr(" (embedded by " QORV_PLUGIN_PATH ")\n"));
  EXPECT_EQ(Lines(run.out), 2) << run.out;

  TempDir dir;
  const HostRun missing = RunHost({"--version", "--plugin", dir.File("missing.so")});
  EXPECT_EQ(missing.status, 1);
  EXPECT_THAT(missing.out, StartsWith("qorv-host "));
  EXPECT_THAT(missing.err, HasSubstr("cannot load plugin"));
}

}  // namespace
