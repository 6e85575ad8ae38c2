// qorv-host end to end: the plugin loaded with RTLD_LOCAL, as a host loads it.
#include <sys/wait.h>

#include <gtest/gtest.h>

#include <cstdio>
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
  EXPECT_EQ(ReadFile(dir.File("qorv_python.txt")), "");
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
