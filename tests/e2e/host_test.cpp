// qorv-host end to end: the plugin loaded with RTLD_LOCAL, as a host loads it.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "e2e/host_process.h"
#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

TEST(Host, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {},
      {"PyRunSimpleString"},
      {"--bogus", "a", "b"},
      {"--plugin"},
      {"--plugin=", "a", "b"},
      {"--echo=yes", "a", "b"},
      {"-f", "x", "a", "b"},
      {"-fx", "a", "b"},
  };
  for (const auto& args : cases) {
    const HostRun run = RunHost(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("qorv-host: "), std::string::npos) << run.err;
  }
  EXPECT_EQ(RunHost({"--help"}).status, 0);
  EXPECT_NE(RunHost({"--help"}).out.find("usage: qorv-host"), std::string::npos);
}

// Options end at the first FUNCTION or at "--"; what follows is requests.
TEST(Host, OptionsEndAtTheFirstFunction) {
  struct Case {
    std::vector<std::string> args;
    const char* out;
  } cases[] = {
      {{"PyRunSimpleString", "-1"}, "TRUE\n"},
      {{"PyRemoveObject", "x", "--version", "y"}, "FALSE\nNONE\n"},
      {{"--echo", "--", "-f", "x"}, "> -f x\nNONE\n"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, c.out) << c.args[0];
  }
}

TEST(Host, SessionsAndDirectoriesThatCannotBeUsedExitOne) {
  TempDir dir;
  dir.Write("unreadable.txt", "PyRunSimpleString x = 1\n");
  ASSERT_EQ(chmod(dir.File("unreadable.txt").c_str(), 0), 0);
  struct Case {
    std::vector<std::string> args;
    std::string message;
  } cases[] = {
      {{"-f", dir.path()}, "cannot read session file '" + dir.path() + "': Is a directory"},
      {{"-f", dir.File("missing.txt")}, "No such file or directory"},
      {{"-C", dir.File("missing"), "PyRunSimpleString", "x"}, "cannot change to"},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_THAT(run.err, HasSubstr(c.message));
    EXPECT_EQ(Lines(run.err), 1) << run.err;
  }
  if (geteuid() != 0) {  // root reads files whatever their mode
    EXPECT_THAT(RunHost({"-f", dir.File("unreadable.txt")}).err, HasSubstr("Permission denied"));
  }
}

TEST(Host, LeavesNothingInTheCurrentDirectory) {
  TempDir dir;
  const HostRun run = RunHost({"-C", dir.path(), "PyRunSimpleString", "x = 1"});
  EXPECT_EQ(run.out, "TRUE\n") << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  // Asked for, the log file is where --log-dir says.
  EXPECT_EQ(RunHost({"-C", dir.path(), "--log-dir", ".", "PyRunSimpleString", "x = 1"}).out, "TRUE\n");
  EXPECT_TRUE(std::filesystem::exists(dir.File("qorv_python.txt")));
}

// Importing subprocess (and with it the signal module) must not take Ctrl-C
// away from a host that keeps the default.
TEST(Host, CtrlCStillEndsTheHostAfterPythonImportedSignal) {
  LiveHost host({"-f", "-"}, {});
  host.Write("PyRunSimpleString import subprocess, signal, multiprocessing\n");
  EXPECT_THAT(host.ReadUntil("\n"), HasSubstr("TRUE"));
  host.Interrupt();
  const int status = host.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
}

TEST(Host, EndsQuietlyWhenItsOutputIsClosed) {
  TempDir io;
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  close(output[0]);  // nobody will ever read the answers
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(output[1], 1);
    const int err = open(io.File("err").c_str(), O_WRONLY | O_CREAT, 0600);
    dup2(err, 2);
    execl(QORV_HOST_PATH, "qorv-host", "PyRunSimpleString", "x = 1", "PyRunSimpleString", "y = 2",
          static_cast<char*>(nullptr));
    _exit(127);
  }
  close(output[1]);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << "status " << status;
  EXPECT_EQ(ReadFile(io.File("err")), "");
}

// Started with a standard descriptor closed, qorv-host puts /dev/null there,
// so that the plugin's log file, opened later, cannot become Python's
// standard input or error. With standard output closed nothing runs.
TEST(Host, ClosedStandardDescriptorsAreNotTakenByOtherFiles) {
  struct Case {
    int closed;
    int status;
    const char* out;  // what standard output starts with
    const char* err;
  } cases[] = {
      {0, 0, "/dev/null\nFALSE\n", "ZeroDivisionError"},
      {2, 0, "/dev/null\nFALSE\n", ""},
      {1, 1, "", "qorv-host: standard output is closed\n"},
  };
  for (const Case& c : cases) {
    TempDir dir;
    const std::string code = "import os, sys; print(os.readlink('/proc/self/fd/" +
                             std::to_string(c.closed) + "')); sys.stdout.flush(); 1/0";
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(dir.File("out").c_str(), O_WRONLY | O_CREAT, 0600);
      const int err = open(dir.File("err").c_str(), O_WRONLY | O_CREAT, 0600);
      dup2(out, 1);
      dup2(err, 2);
      close(out);
      close(err);
      close(c.closed);
      execl(QORV_HOST_PATH, "qorv-host", "--log-dir", dir.path().c_str(), "PyRunSimpleString",
            code.c_str(), static_cast<char*>(nullptr));
      _exit(127);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == c.status) << c.closed;
    EXPECT_EQ(ReadFile(dir.File("out")), c.out) << c.closed;
    EXPECT_THAT(ReadFile(dir.File("err")), HasSubstr(c.err)) << c.closed;
    EXPECT_EQ(ReadFile(dir.File("qorv_python.txt")), "") << c.closed;
  }
}

TEST(Host, PluginProblemsGiveOneLineAndExitOne) {
  TempDir dir;
  struct Case {
    std::vector<std::string> args;
    const char* message;
    int lines;  // the plugin's own reason comes first when it has one
  } cases[] = {
      {{"--plugin", dir.File("missing.so"), "PyRunSimpleString", "x=1"}, "cannot load plugin", 1},
      {{"--plugin", QORV_PYTHON_LIBRARY, "PyRunSimpleString", "x=1"}, "has no GetClassObject", 1},
      {{"--log-dir", dir.File("missing"), "PyRunSimpleString", "x=1"},
       "cannot create the log file", 2},
  };
  for (const Case& c : cases) {
    const HostRun run = RunHost(c.args);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(Lines(run.err), c.lines) << run.err;
    EXPECT_EQ(run.out, "");
  }
}

class HostSession : public ::testing::Test {
 protected:
  void SetUp() override {
    dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=" + dir.path() + "\nscriptdir=scripts\n");
    dir.Write("scripts/hello.py", "print('hello from script')\n");
    dir.Write("modules/greet.py",
              "import datetime\n"
              "def greet(name, n):\n    return 'hi %s %s' % (name, n)\n"
              "class Keeper(object):\n"
              "    def __init__(self, path): self.f = open(path, 'w')\n"
              "    def put(self, text): self.f.write(text); return 'ok'\n");
  }
  TempDir dir;
};

TEST_F(HostSession, ArgumentPairsRunInOrder) {
  const HostRun run = RunHost({"-C", dir.path(), "PyRunSimpleString",
                               "sys.path.insert(0, 'modules')", "PyCallObject",
                               "PYMOD=greet PYOBJ=greet 'a b' 42", "PyRunSimpleFile", "hello.py",
                               "NoSuchRequest", "x"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "TRUE\nhi a b 42\n" + dir.path() + "/scripts/hello.py\nhello from script\nTRUE\nNONE\n");
}

TEST_F(HostSession, ExtensionModulesImportUnderRtldLocal) {
  const HostRun run = RunHost(
      {"-C", dir.path(), "PyRunSimpleString",
       "import math, _json, datetime, _struct, json; assert json.loads('[1]') == [1]"});
  EXPECT_EQ(run.out, "TRUE\n") << run.err;
  EXPECT_EQ(run.err.find("undefined symbol"), std::string::npos) << run.err;
}

TEST_F(HostSession, SessionFileSkipsCommentsAndSurvivesSystemExit) {
  const std::string session =
      "# a session\n"
      "\n"
      "   \n"
      "  # an indented comment\n"
      "PyRunSimpleString import sys; sys.exit(2)\n"
      "PyRunSimpleString x = 'still here'\r\n"
      "PyRunSimpleString sys.path.insert(0, 'modules')\n"
      "PyCreateObject PYMOD=greet PYOBJ=Keeper kept.txt\n"
      "PyCallObjectMethod PYOBJ=o_1 PYOMD=put buffered\n"
      "PyRunSimpleString\n";
  dir.Write("session.txt", session);
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"-C", dir.path(), "-f", "session.txt"},
        std::vector<std::string>{"-C", dir.path(), "-f", "-"}}) {
    const HostRun run = RunHost(args, session);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out, "FALSE\nTRUE\nTRUE\no_1\nok\nTRUE\n") << run.err;
    EXPECT_NE(run.err.find("SystemExit: 2"), std::string::npos) << run.err;
    // The held file object was released at Close, so its buffer reached the file.
    EXPECT_EQ(ReadFile(dir.File("kept.txt")), "buffered");
  }
}

// For hosts whose standard error goes nowhere, the log file can keep the
// failure reasons and tracebacks, and a line for every request.
TEST_F(HostSession, LogFileKeepsWhatTheSettingAsksFor) {
  struct Case {
    const char* setting;
    std::vector<std::string> expected;    // each somewhere in the log file
    std::vector<std::string> unexpected;  // none of these
  } cases[] = {
      {"", {}, {"qorv_python"}},
      {"log=none\n", {}, {"qorv_python"}},
      {"log=errors\n",
       {"qorv_python: NoSuchRequest: no request is named 'NoSuchRequest'\n",
        "ZeroDivisionError", "qorv_python: PyRemoveObject: no object is held under the id '50~'\n"},
       {"PyRunSimpleString x = 1"}},
      {"log=requests\n",
       {"NoSuchRequest: no request is named", "ZeroDivisionError",
        "PyRunSimpleString x = 1 -> TRUE\n", "PyRunSimpleString 1/0 -> FALSE\n",
        "NoSuchRequest x -> NONE\n"},
       {}},
  };
  for (const Case& c : cases) {
    dir.Write("qorv_python.ini",
              "[QORV_PYTHON]\nprefix=" + dir.path() + "\nscriptdir=scripts\n" + c.setting);
    const HostRun run = RunHost({"-C", dir.path(), "--log-dir", ".", "PyRunSimpleString", "x = 1",
                                 "PyRunSimpleString", "1/0", "NoSuchRequest", "x", "PyRemoveObject",
                                 "50%"});
    EXPECT_EQ(run.out, "TRUE\nFALSE\nNONE\nFALSE\n") << run.err;
    EXPECT_THAT(run.err, HasSubstr("ZeroDivisionError"));  // standard error has it all the same
    const std::string log = ReadFile(dir.File("qorv_python.txt"));
    for (const std::string& text : c.expected) EXPECT_THAT(log, HasSubstr(text)) << c.setting;
    for (const std::string& text : c.unexpected) EXPECT_THAT(log, Not(HasSubstr(text))) << c.setting;
    if (c.expected.empty()) {
      EXPECT_EQ(log, "") << c.setting;
    }
  }
}

TEST_F(HostSession, ScriptClosingPythonsStandardStreams) {
  const HostRun run = RunHost({"-C", dir.path(), "PyRunSimpleString",
                               "sys.stdout.close(); sys.stderr.close()", "PyRunSimpleString",
                               "raise ValueError('nowhere to print')", "PyRunSimpleString",
                               "print('x')", "PyCallObject", "PYMOD=json PYOBJ=dumps a"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "TRUE\nFALSE\nFALSE\n\"a\"\n") << run.err;
}

TEST_F(HostSession, ThreadLeftRunningDoesNotHoldUpClose) {
  const HostRun run = RunHost(
      {"-C", dir.path(), "PyRunSimpleString",
       "import threading, time\n"
       "def forever():\n    while True: time.sleep(0.05)\n"
       "threading.Thread(target=forever).start()",
       "PyRunSimpleString", "x = 1"});
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "TRUE\nTRUE\n");
  EXPECT_NE(run.err.find("threads still running"), std::string::npos) << run.err;
}

}  // namespace
