#include <Python.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "python/python_env.h"
#include "support/temp_dir.h"

namespace {

// Leaves the shared plugin open, as the other tests expect it.
class LifecycleTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (!Plugin().InterpreterRunning()) Reopen();
  }
};

TEST_F(LifecycleTest, OpenFailsWithoutALogFileAndRequestsAnswerNone) {
  Plugin().Close();
  EXPECT_FALSE(Plugin().Open((Root() + "/no/such/dir").c_str()));
  EXPECT_FALSE(Plugin().InterpreterRunning());
  EXPECT_EQ(Send("PyRunSimpleString", "x = 1").buffer, "NONE");
  EXPECT_EQ(Ask("PyRemoveObject", "x"), "NONE");
  EXPECT_TRUE(Plugin().Close());
  EXPECT_EQ(Ask("PyRunSimpleString", "x = 1"), "NONE");
  ASSERT_TRUE(Plugin().Open(Root().c_str()));
  EXPECT_EQ(Ask("PyRunSimpleString", "x = 1"), "TRUE");
}

TEST_F(LifecycleTest, LogFileGoesIntoTheDirectoryOfAnyLength) {
  TempDir dir;
  const std::string deep = dir.path() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
  dir.Write(deep.substr(dir.path().size() + 1) + "/qorv_python.txt", "old");
  Plugin().Close();
  ASSERT_TRUE(Plugin().Open(deep.c_str()));
  EXPECT_EQ(ReadFile(deep + "/qorv_python.txt"), "");  // created or emptied
  EXPECT_TRUE(Plugin().Close());
}

TEST_F(LifecycleTest, CloseTwiceAndBeforeOpenIsHarmless) {
  EXPECT_TRUE(Plugin().Close());
  EXPECT_TRUE(Plugin().Close());
  PythonPlugin unopened;
  EXPECT_TRUE(unopened.Close());
}

TEST_F(LifecycleTest, CloseReleasesHeldObjectsWhilePythonStillRuns) {
  TempDir dir;
  const std::string written = dir.File("released.txt");
  Reopen();
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked " + written), "o_1");
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=RaisesOnDel"), "o_2");
  ASSERT_EQ(Ask("PyRunSimpleString", "bound_in_first_run = 1"), "TRUE");
  EXPECT_TRUE(Plugin().Close());
  EXPECT_EQ(ReadFile(written), "released");  // __del__ ran
  EXPECT_TRUE(Plugin().objectRegistry.Empty());

  ASSERT_TRUE(Plugin().Open(Root().c_str()));
  AddModulePath();
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=o_1 PYOMD=__repr__"), "NONE");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
  EXPECT_EQ(Ask("PyRunSimpleString", "bound_in_first_run"), "FALSE");
}

TEST_F(LifecycleTest, SecondOpenWithoutCloseStartsAFreshRun) {
  TempDir dir;
  const std::string written = dir.File("released.txt");
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t " + written), "t");
  ASSERT_TRUE(Plugin().Open(Root().c_str()));
  EXPECT_EQ(ReadFile(written), "released");
  AddModulePath();
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=t PYOMD=__repr__"), "NONE");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");

  // A second Open that fails leaves nothing served.
  EXPECT_FALSE(Plugin().Open((Root() + "/no/such/dir").c_str()));
  EXPECT_EQ(Ask("PyRunSimpleString", "x = 1"), "NONE");
}

TEST_F(LifecycleTest, InterpreterLeavesTheHostsSignalsAlone) {
  struct sigaction action;
  ASSERT_EQ(sigaction(SIGINT, nullptr, &action), 0);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
  ASSERT_EQ(sigaction(SIGPIPE, nullptr, &action), 0);
  EXPECT_EQ(action.sa_handler, SIG_DFL);
}

TEST_F(LifecycleTest, SysArgvIsOneEmptyString) {
  EXPECT_EQ(Ask("PyRunSimpleString", "assert sys.argv == ['']"), "TRUE");
}

TEST_F(LifecycleTest, ManyOpenCloseCycles) {
  for (int cycle = 0; cycle < 50; ++cycle) {
    Reopen();
    ASSERT_EQ(Ask("PyRunSimpleString", "import json, datetime; d = datetime.date(2026, 1, 2)"), "TRUE")
        << "cycle " << cycle;
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=datetime PYOBJ=timedelta"), "o_2");
    ASSERT_EQ(Ask("PyCallObject", "PYMOD=json PYOBJ=dumps x"), "\"x\"");
  }
}

}  // namespace
