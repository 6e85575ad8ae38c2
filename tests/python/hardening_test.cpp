// Hostile Python and bad input: the request fails as its kind fails, the
// error is printed and cleared, and the next request is served.
#include <Python.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "python/python_env.h"
#include "support/temp_dir.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

void ExpectServedAfterwards() {
  EXPECT_FALSE(PythonErrorPending());
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo alive"), "alive");
}

std::string AllBytes(int from, int to) {
  std::string bytes;
  for (int c = from; c <= to; ++c) bytes.push_back(static_cast<char>(c));
  return bytes;
}

TEST(Hostile, FunctionsThatRaiseAnythingAnswerNone) {
  ASSERT_EQ(Ask("PyRunSimpleString",
                "import tools\n"
                "def _deep(n=0): return _deep(n + 1)\n"
                "def _interrupt(): raise KeyboardInterrupt\n"
                "def _exit_plain(): sys.exit()\n"
                "tools.deep, tools.interrupt, tools.exit_plain = _deep, _interrupt, _exit_plain"),
            "TRUE");
  for (const char* function : {"deep", "interrupt", "exit_plain", "exit_now", "fail"}) {
    EXPECT_EQ(Ask("PyCallObject", std::string("PYMOD=tools PYOBJ=") + function), "NONE") << function;
    ExpectServedAfterwards();
  }
}

TEST(Hostile, ModuleRemovedFromSysModulesBetweenCalls) {
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=json PYOBJ=dumps a"), "\"a\"");
  EXPECT_EQ(Ask("PyRunSimpleString", "del sys.modules['json']"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=json PYOBJ=dumps b"), "\"b\"");
}

TEST(Hostile, HugeTextsBothWays) {
  const std::string tenMiB(10 * 1024 * 1024, 'p');
  const Answer echoed = Send("PyCallObject", "PYMOD=tools PYOBJ=echo " + tenMiB);
  EXPECT_EQ(echoed.text, tenMiB);
  EXPECT_EQ(echoed.buffer.size(), kQorvParameterBufferSize - 1);
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=built " + std::to_string(tenMiB.size())).size(),
            tenMiB.size());
  EXPECT_EQ(Ask("PyRunSimpleString", "huge = '" + tenMiB + "'\nassert len(huge) == 10485760"), "TRUE");
  EXPECT_EQ(Ask("PyRunSimpleString", "del huge"), "TRUE");
}

TEST(BadInput, EveryByteInNamesAndTexts) {
  const std::string bytes = AllBytes(1, 255);
  EXPECT_EQ(Ask(bytes, "x"), "NONE");
  EXPECT_EQ(Ask("PyCallObject" + bytes, "PYMOD=tools PYOBJ=echo x"), "NONE");
  EXPECT_EQ(Ask("PyRemoveObject", bytes), "FALSE");
  EXPECT_EQ(Ask("PyRunSimpleString", bytes), "FALSE");
  EXPECT_EQ(Ask("PyRunSimpleFile", bytes), "FALSE");
  // As module, attribute and method names (no space: the whole run is one tag value).
  const std::string noSpace = AllBytes(1, 31) + AllBytes(33, 255);
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=" + noSpace + " PYOBJ=echo"), "NONE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=" + noSpace), "NONE");
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=bytes"), "bytes");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=bytes PYOMD=" + noSpace), "NONE");
  EXPECT_EQ(Ask("PyRemoveObject", "bytes"), "TRUE");
  ExpectServedAfterwards();
}

TEST(BadInput, ScriptsThatCannotBeRun) {
  const std::string scripts = Root() + "/scripts1/";
  // Not UTF-8 and no coding line: a SyntaxError on both Python lines.
  std::FILE* latin1 = std::fopen((scripts + "latin1.py").c_str(), "w");
  std::fputs("text = '\xe9t\xe9'\n", latin1);
  std::fclose(latin1);
  ASSERT_EQ(mkfifo((scripts + "fifo.py").c_str(), 0600), 0);  // would block a plain open
  ASSERT_EQ(symlink("nowhere.py", (scripts + "dangling.py").c_str()), 0);
  for (const char* name : {"latin1.py", "fifo.py", "dangling.py"}) {
    CaptureStdout();
    EXPECT_EQ(Ask("PyRunSimpleFile", name), "FALSE") << name;
    const std::string printed = GetCapturedStdout();
    EXPECT_EQ(printed.empty(), std::string(name) != "latin1.py") << name << ": " << printed;
    ExpectServedAfterwards();
  }
}

TEST(BadInput, UnreadableScript) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads files whatever their mode";
  const std::string path = Root() + "/scripts1/unreadable.py";
  std::FILE* file = std::fopen(path.c_str(), "w");
  std::fputs("x = 1\n", file);
  std::fclose(file);
  ASSERT_EQ(chmod(path.c_str(), 0), 0);
  EXPECT_EQ(Ask("PyRunSimpleFile", "unreadable.py"), "FALSE");
}

}  // namespace
