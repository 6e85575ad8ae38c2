#include <Python.h>
#include <gtest/gtest.h>

#include "python/python_env.h"

namespace {

using ::testing::internal::CaptureStdout;
using ::testing::internal::GetCapturedStdout;

struct RunCase {
  const char* source;
  const char* answer;
};

const RunCase kRunCases[] = {
    {"", "TRUE"},
    {"sys.version", "TRUE"},             // sys is there without an import
    {"assert sys.argv == ['']", "TRUE"},  // as common modules expect
    {"raise ValueError('x')", "FALSE"},
    {"def broken(:", "FALSE"},
    {"undefined_name", "FALSE"},
    // SystemExit and KeyboardInterrupt fail the request, never the host.
    {"sys.exit()", "FALSE"},
    {"raise SystemExit(3)", "FALSE"},
    {"import sys as s; s.exit('bye')", "FALSE"},
    {"raise KeyboardInterrupt", "FALSE"},
    {"def deep(n): return deep(n + 1)\ndeep(0)", "FALSE"},
    {"after_failures = True", "TRUE"},
};

class RunStringTest : public ::testing::TestWithParam<RunCase> {};

TEST_P(RunStringTest, AnswersWhetherTheCodeRanToItsEnd) {
  EXPECT_EQ(Ask("PyRunSimpleString", GetParam().source), GetParam().answer);
  EXPECT_FALSE(PythonErrorPending());
}

INSTANTIATE_TEST_SUITE_P(Sources, RunStringTest, ::testing::ValuesIn(kRunCases));

TEST(RunString, NamesStayBoundBetweenRequests) {
  EXPECT_EQ(Ask("PyRunSimpleString", "run_value = 41"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo in_between"), "in_between");
  EXPECT_EQ(Ask("PyRunSimpleString", "assert run_value == 41"), "TRUE");
}

TEST(RunString, ErrorsArePrintedWithTheirTraceback) {
  const std::string printed = CapturePythonStderr([] {
    Ask("PyRunSimpleString", "raise ValueError('shown')");
    Ask("PyRunSimpleString", "raise SystemExit(7)");
  });
  EXPECT_NE(printed.find("Traceback"), std::string::npos) << printed;
  EXPECT_NE(printed.find("ValueError: shown"), std::string::npos) << printed;
  EXPECT_NE(printed.find("SystemExit: 7"), std::string::npos) << printed;
}

TEST(RunFile, FirstDirectoryHoldingTheFileWinsAndItsPathIsPrinted) {
  CaptureStdout();
  const std::string answer = Ask("PyRunSimpleFile", "both.py");
  const std::string printed = GetCapturedStdout();
  EXPECT_EQ(answer, "TRUE");
  EXPECT_EQ(printed, Root() + "/scripts2/both.py\n");
  EXPECT_EQ(Ask("PyRunSimpleString", "assert from_script == 'scripts2'"), "TRUE");
}

TEST(RunFile, DirectoryIsNotAScriptAndTheSearchGoesOn) {
  CaptureStdout();
  EXPECT_EQ(Ask("PyRunSimpleFile", "dir.py"), "TRUE");
  EXPECT_EQ(GetCapturedStdout(), Root() + "/scripts2/dir.py\n");
}

TEST(RunFile, ScriptSharesTheMainModuleWithCodeStrings) {
  EXPECT_EQ(Ask("PyRunSimpleString", "bound_before = 'yes'"), "TRUE");
  CaptureStdout();
  EXPECT_EQ(Ask("PyRunSimpleFile", "define.py"), "TRUE");
  GetCapturedStdout();
  EXPECT_EQ(Ask("PyRunSimpleString", "assert defined_by_script() == 'defined'"), "TRUE");
  EXPECT_EQ(Ask("PyRunSimpleString", "assert seen == 'yes'"), "TRUE");
  // __file__ named the script while it ran and is gone afterwards.
  EXPECT_EQ(Ask("PyRunSimpleString", "assert file_seen.endswith('scripts1/define.py')"), "TRUE");
  EXPECT_EQ(Ask("PyRunSimpleString", "assert '__file__' not in globals()"), "TRUE");
}

TEST(RunFile, Failures) {
  struct Case {
    const char* fileName;
    const char* answer;
    bool printsPath;
  } cases[] = {
      {"raises.py", "FALSE", true},
      {"exits.py", "FALSE", true},
      {"missing.py", "FALSE", false},
      {"first.py ", "FALSE", false},  // the name is not trimmed
      {"spaced.py ", "TRUE", true},   // ... so this one, with its space, is found
      {"", "FALSE", false},           // a directory
  };
  for (const Case& c : cases) {
    CaptureStdout();
    EXPECT_EQ(Ask("PyRunSimpleFile", c.fileName), c.answer) << '"' << c.fileName << '"';
    EXPECT_EQ(!GetCapturedStdout().empty(), c.printsPath) << '"' << c.fileName << '"';
    EXPECT_FALSE(PythonErrorPending());
  }
}

}  // namespace
