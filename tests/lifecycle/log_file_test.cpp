// The plugin's log file as a run writes it: where it stays, what reaches it,
// and the descriptors it never takes.
#include <fcntl.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;
using ::testing::StartsWith;

void WriteSettings(PluginRun& run, const std::string& log) {
  run.dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=" + run.dir.path() +
                                       "\nscriptdir=scripts1\nlog=" + log + "\n");
}

// The log's path is fixed at Open: a rollover after Python code changed the
// current directory starts the same file again, not one in the new directory.
TEST(LogFile, StaysWhereItWasOpenedWhenPythonChangesDirectory) {
  RunInChildProcess([] {
    PluginRun run;
    WriteSettings(run, "errors");
    ASSERT_EQ(mkdir(run.dir.File("elsewhere").c_str(), 0700), 0);
    ASSERT_TRUE(run.plugin.Open("."));
    run.Run("import os\nos.chdir('elsewhere')");
    for (int i = 0; i < 12; ++i) {  // 100 KB tracebacks: past 1 MiB
      EXPECT_EQ(run.Ask("PyRunSimpleString", "raise ValueError('x' * 100000)"), "FALSE");
    }
    EXPECT_THAT(ReadFile(run.dir.File("qorv_python.txt")), StartsWith("QORV base plugin\n"));
    EXPECT_NE(access(run.dir.File("elsewhere/qorv_python.txt").c_str(), F_OK), 0);
  });
}

// Every traceback Python prints while the plugin runs reaches the log whole,
// each entry on lines of its own: a long one, one from __del__, one from an
// at-exit handler and one from a Python thread.
TEST(LogFile, KeepsEveryTracebackWhole) {
  RunInChildProcess([] {
    PluginRun run;
    WriteSettings(run, "errors");
    ASSERT_TRUE(run.Open());
    EXPECT_EQ(run.Ask("PyRunSimpleString", "raise ValueError('long ' + 'y' * 100000)"), "FALSE");
    EXPECT_EQ(run.Ask("PyCallObject", "PYMOD=no_such_module PYOBJ=f"), "NONE");
    ASSERT_EQ(run.Ask("PyCreateObject", "PYMOD=tools PYOBJ=RaisesOnDel SETID=r"), "r");
    EXPECT_EQ(run.Ask("PyRemoveObject", "r"), "TRUE");
    run.Run("import threading\n"
            "def fails(): raise KeyError('in a thread')\n"
            "t = threading.Thread(target=fails)\nt.start()\nt.join()");
    run.Run("import atexit\n"
            "def at_exit(): raise LookupError('at exit')\n"
            "atexit.register(at_exit)");
    EXPECT_TRUE(run.plugin.Close());
    const std::string log = ReadFile(run.dir.File("qorv_python.txt"));
    EXPECT_THAT(log, HasSubstr("ValueError: long " + std::string(100000, 'y') + "\n"));
    EXPECT_THAT(log, HasSubstr("no_such_module"));
    EXPECT_THAT(log, HasSubstr("raised in __del__"));
    EXPECT_THAT(log, HasSubstr("KeyError: 'in a thread'"));
    EXPECT_THAT(log, HasSubstr("LookupError: at exit"));
  });
}

// A host that runs with standard output closed: the log file does not take
// its descriptor, so print() never writes into the log.
TEST(LogFile, NeverTakesTheStandardDescriptors) {
  RunInChildProcess([] {
    PluginRun run;
    WriteSettings(run, "errors");
    const int savedOutput = dup(STDOUT_FILENO);
    ASSERT_EQ(close(STDOUT_FILENO), 0);
    const bool opened = run.Open();
    run.Ask("PyRunSimpleString", "print('into the void')");
    char target[PATH_MAX] = {};
    const ssize_t length = readlink("/proc/self/fd/1", target, sizeof target - 1);
    EXPECT_TRUE(run.plugin.Close());
    dup2(savedOutput, STDOUT_FILENO);
    close(savedOutput);
    ASSERT_TRUE(opened);
    EXPECT_THAT(std::string(target, length > 0 ? length : 0), Not(HasSubstr("qorv_python.txt")));
    EXPECT_THAT(ReadFile(run.dir.File("qorv_python.txt")), Not(HasSubstr("into the void")));
  });
}

}  // namespace
