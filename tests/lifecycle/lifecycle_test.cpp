// Open and Close: the log file, failed opens, what a Close ends and what the
// next Open starts with.
#include <Python.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

using ::testing::HasSubstr;
using ::testing::internal::CaptureStderr;
using ::testing::internal::GetCapturedStderr;

TEST(Lifecycle, OpenFailsWithoutALogFileSaysWhyAndRequestsAnswerNone) {
  RunInChildProcess([] {
    PluginRun run;
    CaptureStderr();
    EXPECT_FALSE(run.plugin.Open((run.dir.path() + "/no/such/dir").c_str()));
    const std::string printed = GetCapturedStderr();
    EXPECT_THAT(printed, HasSubstr("cannot create the log file '" + run.dir.path() +
                                   "/no/such/dir/qorv_python.txt': No such file or directory"));
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "NONE");
    EXPECT_EQ(run.Ask("PyRemoveObject", "x"), "NONE");
    EXPECT_TRUE(run.plugin.Close());
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "TRUE");
  });
}

TEST(Lifecycle, LogFileGoesIntoTheDirectoryOfAnyLength) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string deep = run.dir.path() + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
    run.dir.Write(deep.substr(run.dir.path().size() + 1) + "/qorv_python.txt", "old");
    ASSERT_TRUE(run.plugin.Open(deep.c_str()));
    EXPECT_EQ(ReadFile(deep + "/qorv_python.txt"), "");  // created or emptied
  });
}

TEST(Lifecycle, NoLogDirectoryMeansTheCurrentDirectory) {
  RunInChildProcess([] {
    PluginRun run;
    const bool rootHadALog = access("/qorv_python.txt", F_OK) == 0;
    for (const char* directory : {"", static_cast<const char*>(nullptr)}) {
      run.dir.Write("qorv_python.txt", "old");
      ASSERT_TRUE(run.plugin.Open(directory));
      EXPECT_EQ(ReadFile(run.dir.File("qorv_python.txt")), "");
      EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "TRUE");
      EXPECT_TRUE(run.plugin.Close());
    }
    if (!rootHadALog) {
      EXPECT_NE(access("/qorv_python.txt", F_OK), 0);
    }
  });
}

TEST(Lifecycle, CloseTwiceAndBeforeOpenIsHarmless) {
  RunInChildProcess([] {
    PythonPlugin unopened;
    EXPECT_TRUE(unopened.Close());
    PluginRun run;
    ASSERT_TRUE(run.Open());
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "NONE");
  });
}

// What one run leaves must not reach the next: held objects are released (in
// id order, their __del__ run), exit handlers run, the main namespace and the
// ids start afresh; whether or not the interpreter itself was shut down.
TEST(Lifecycle, CloseEndsTheRunAndOpenStartsAfresh) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string released = run.dir.File("released.txt");
    const std::string exited = run.dir.File("exited.txt");
    for (bool withExtensionModule : {false, true}) {
      ASSERT_TRUE(run.Open());
      ASSERT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked " + released), "o_1");
      ASSERT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=RaisesOnDel"), "o_2");
      run.Run("import atexit\natexit.register(lambda: open('" + exited + "', 'w').write('ran'))");
      run.Run("bound_in_first_run = 1");
      if (withExtensionModule) run.Run("import decimal, ctypes");
      EXPECT_TRUE(run.plugin.Close());
      EXPECT_EQ(ReadFile(released), "released");
      EXPECT_EQ(ReadFile(exited), "ran");
      // Shut down only where a restart is safe and nothing holds it.
      EXPECT_EQ(Py_IsInitialized() == 0, kRestartIsSafe && !withExtensionModule);

      ASSERT_TRUE(run.Open());
      EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=o_1 PYOMD=__repr__"), "NONE");
      EXPECT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
      EXPECT_EQ(run.Ask("PyRunSimpleString", "bound_in_first_run"), "FALSE");
      run.Run("assert sorted(k for k in globals() if not k.startswith('__')) == ['sys']");
      EXPECT_TRUE(run.plugin.Close());
      std::remove(released.c_str());
      std::remove(exited.c_str());
    }
  });
}

TEST(Lifecycle, SecondOpenWithoutCloseStartsAFreshRun) {
  RunInChildProcess([] {
    PluginRun run;
    const std::string released = run.dir.File("released.txt");
    ASSERT_TRUE(run.Open());
    ASSERT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t " + released), "t");
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(ReadFile(released), "released");
    EXPECT_EQ(run.Ask("PyCallObjectMethod", "PYOBJ=t PYOMD=__repr__"), "NONE");
    EXPECT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");

    // A second Open that fails leaves nothing served.
    EXPECT_FALSE(run.plugin.Open((run.dir.path() + "/no/such/dir").c_str()));
    EXPECT_EQ(run.Ask("PyRunSimpleString", "x = 1"), "NONE");
  });
}

// Relative directories from the settings are taken from the current
// directory at Open: code that changes the current directory later still
// finds its scripts and modules.
TEST(Lifecycle, RelativeDirectoriesOfTheSettingsStayWhereTheyWereAtOpen) {
  RunInChildProcess([] {
    PluginRun run;
    run.dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=.\nscriptdir=scripts1\npythonpath=modules\n");
    ASSERT_TRUE(run.plugin.Open(run.dir.path().c_str()));
    run.Run("import os; os.chdir('/')");
    EXPECT_EQ(run.Ask("PyRunSimpleFile", "first.py"), "TRUE");
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=tools PYOBJ=echo here"), "here");
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=os PYOBJ=getcwd"), "/");
  });
}

TEST(Lifecycle, SettingsAndLogDirectoryThatCannotBeUsed) {
  RunInChildProcess([] {
    PluginRun run;
    // A directory where the settings file is looked for: no script directories.
    ASSERT_EQ(mkdir(run.dir.File("elsewhere").c_str(), 0700), 0);
    ASSERT_EQ(mkdir(run.dir.File("elsewhere/qorv_python.ini").c_str(), 0700), 0);
    ASSERT_EQ(chdir(run.dir.File("elsewhere").c_str()), 0);
    ASSERT_TRUE(run.Open());
    std::string printed = run.CapturePythonStderr([&] { EXPECT_EQ(run.Ask("PyRunSimpleFile", "first.py"), "FALSE"); });
    EXPECT_THAT(printed, HasSubstr("no script directories are set"));
    EXPECT_TRUE(run.plugin.Close());

    // Script directories that do not exist.
    run.dir.Write("settings/qorv_python.ini",
                  "[QORV_PYTHON]\nprefix=" + run.dir.path() + "\nscriptdir=gone,also_gone\n");
    ASSERT_EQ(chdir(run.dir.File("settings").c_str()), 0);
    ASSERT_TRUE(run.Open());
    printed = run.CapturePythonStderr([&] { EXPECT_EQ(run.Ask("PyRunSimpleFile", "first.py"), "FALSE"); });
    EXPECT_THAT(printed, HasSubstr("in the script directories '" + run.dir.path() + "/gone', '" +
                                   run.dir.path() + "/also_gone'"));
    EXPECT_TRUE(run.plugin.Close());

    // A directory where the log file would go.
    ASSERT_EQ(std::remove(run.dir.File("qorv_python.txt").c_str()), 0);
    ASSERT_EQ(mkdir(run.dir.File("qorv_python.txt").c_str(), 0700), 0);
    EXPECT_FALSE(run.plugin.Open(run.dir.path().c_str()));
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=json PYOBJ=dumps x"), "NONE");
  });
}

}  // namespace
