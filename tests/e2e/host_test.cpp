// qorv-host end to end: the plugin loaded with RTLD_LOCAL, as a host loads it.
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

struct HostRun {
  int status;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

// Runs qorv-host with the arguments, `input` on its standard input.
HostRun RunHost(const std::vector<std::string>& args, const std::string& input = "") {
  TempDir io;
  const std::string inPath = io.Write("in", input);
  std::string command = Quote(QORV_HOST_PATH);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + Quote(inPath) + " >" + Quote(io.File("out")) + " 2>" + Quote(io.File("err"));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(io.File("out")),
          ReadFile(io.File("err"))};
}

int Lines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

using ::testing::HasSubstr;
using ::testing::Not;

// A qorv-host that runs while the test talks to it: `in` writes to its
// standard input, `out` reads its standard output (one and the same
// terminal when it runs on a pseudo-terminal).
struct LiveHost {
  pid_t pid = -1;
  int in = -1;
  int out = -1;

  static LiveHost Start(const std::vector<std::string>& args, bool terminal,
                        const std::vector<std::string>& environment = {}) {
    std::vector<std::string> argv = {QORV_HOST_PATH};
    argv.insert(argv.end(), args.begin(), args.end());
    LiveHost host;
    int toHost[2], fromHost[2];
    if (terminal) {
      int master = -1;
      host.pid = forkpty(&master, nullptr, nullptr, nullptr);
      host.in = host.out = master;
    } else {
      if (pipe(toHost) != 0 || pipe(fromHost) != 0) return host;
      host.pid = fork();
      if (host.pid == 0) {
        dup2(toHost[0], 0);
        dup2(fromHost[1], 1);
        for (int fd : {toHost[0], toHost[1], fromHost[0], fromHost[1]}) close(fd);
      } else {
        close(toHost[0]);
        close(fromHost[1]);
        host.in = toHost[1];
        host.out = fromHost[0];
      }
    }
    if (host.pid == 0) {
      for (const std::string& setting : environment) putenv(strdup(setting.c_str()));
      std::vector<char*> pointers;
      for (std::string& arg : argv) pointers.push_back(arg.data());
      pointers.push_back(nullptr);
      execv(pointers[0], pointers.data());
      _exit(127);
    }
    return host;
  }

  void Write(const std::string& text) const {
    ASSERT_EQ(write(in, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }

  // Reads until the output holds `expected` (after the first `after`, when
  // given), for ten seconds at most.
  std::string ReadUntil(const std::string& expected, const std::string& after = "") {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    auto found = [&] {
      const std::size_t from = seen.find(after);
      return from != std::string::npos && seen.find(expected, from + after.size()) != std::string::npos;
    };
    while (!found() && std::chrono::steady_clock::now() < deadline) {
      pollfd ready{out, POLLIN, 0};
      if (poll(&ready, 1, 100) <= 0) continue;
      char chunk[4096];
      const ssize_t got = read(out, chunk, sizeof chunk);
      if (got <= 0) break;
      seen.append(chunk, static_cast<std::size_t>(got));
    }
    return seen;
  }

  // The wait status once it has ended, for ten seconds at most.
  int Wait() const {
    int status = 0;
    for (int tick = 0; tick < 1000; ++tick) {
      if (waitpid(pid, &status, WNOHANG) == pid) return status;
      usleep(10000);
    }
    kill(pid, SIGKILL);
    waitpid(pid, &status, 0);
    ADD_FAILURE() << "qorv-host did not end";
    return status;
  }

  std::string seen;
};

TEST(Host, UsageErrorsExitTwo) {
  const std::vector<std::vector<std::string>> cases = {
      {}, {"PyRunSimpleString"}, {"--bogus", "a", "b"}, {"--plugin"}, {"-f", "x", "a", "b"}};
  for (const auto& args : cases) {
    const HostRun run = RunHost(args);
    EXPECT_EQ(run.status, 2);
    EXPECT_NE(run.err.find("qorv-host: "), std::string::npos) << run.err;
  }
  EXPECT_EQ(RunHost({"--help"}).status, 0);
  EXPECT_NE(RunHost({"--help"}).out.find("usage: qorv-host"), std::string::npos);
  EXPECT_EQ(RunHost({"--version"}).out.rfind("qorv-host ", 0), 0u);
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
  LiveHost host = LiveHost::Start({"-f", "-"}, false);
  host.Write("PyRunSimpleString import subprocess, signal, multiprocessing\n");
  EXPECT_THAT(host.ReadUntil("\n"), HasSubstr("TRUE"));
  kill(host.pid, SIGINT);
  const int status = host.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << "status " << status;
  close(host.in);
  close(host.out);
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

// At the prompt Ctrl-C drops the line being typed and Ctrl-D ends the session;
// the lines sent are kept in the history file.
TEST(Host, InteractivePromptDropsALineOnCtrlCAndKeepsHistory) {
  TempDir state;
  LiveHost host = LiveHost::Start({"-f", "-"}, true, {"XDG_STATE_HOME=" + state.path()});
  host.ReadUntil("qorv> ");
  host.Write("PyRunSimpleString dropped = 1");
  host.ReadUntil("dropped = 1");
  host.Write("\x03");
  host.ReadUntil("^C");
  host.Write("PyRunSimpleString print('kept %s' % ('dropped' in globals()))\r");
  EXPECT_THAT(host.ReadUntil("TRUE"), HasSubstr("kept False"));
  host.ReadUntil("qorv> ", "TRUE");  // typed before the prompt, Ctrl-D could be lost
  host.Write("\x04");
  const int status = host.Wait();
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << host.seen;
  const std::string history = ReadFile(state.File("qorv-host/history"));
  EXPECT_THAT(history, HasSubstr("print('kept"));
  EXPECT_THAT(history, Not(HasSubstr("dropped = 1")));
  close(host.in);
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
