// Every request that fails says why, in one line on Python's sys.stderr.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>

#include <Python.h>

#include "python/python_env.h"

namespace {

using ::testing::HasSubstr;

#if PY_MAJOR_VERSION >= 3
#define PY_MODULE_NOT_FOUND "ModuleNotFoundError"
#else
#define PY_MODULE_NOT_FOUND "ImportError"
#endif

struct ReasonCase {
  const char* function;
  const char* parameters;
  const char* answer;
  const char* reason;  // "" when nothing is to be printed
};

const ReasonCase kReasonCases[] = {
    {"NoSuchRequest", "x", "NONE", "NoSuchRequest: no request is named 'NoSuchRequest'"},
    {"Bad\nName", "x", "NONE", R"(Bad\x0aName: no request is named 'Bad\x0aName')"},
    // Bytes that are no UTF-8 are escaped, so that any sys.stderr can take the line.
    {"PyRemoveObject", "caf\xc3\xa9\xff\xed\xa0\x80", "FALSE",
     R"(PyRemoveObject: no object is held under the id 'caf)" "\xc3\xa9" R"(\xff\xed\xa0\x80')"},
    {"PyCallObject", "PYMOD=tools PYOBJ=echo 'x", "NONE",
     "PyCallObject: parameter text rejected at byte 23: the quote that opens here is not closed"},
    {"PyCallObject", "PYMOD=tools PYOBJ=echo 'x'y", "NONE",
     "PyCallObject: parameter text rejected at byte 26: only a space may follow a closing quote"},
    {"PyCallObject", "PYOBJ=echo x", "NONE", "PyCallObject: PYMOD is missing"},
    {"PyCreateObject", "PYMOD=tools", "NONE", "PyCreateObject: PYOBJ is missing"},
    {"PyCallObjectMethod", "PYOMD=add", "NONE", "PyCallObjectMethod: PYOBJ (the object id) is missing"},
    {"PyCallObjectMethod", "PYOBJ=nobody", "NONE", "PyCallObjectMethod: PYOMD is missing"},
    {"PyCallObjectMethod", "PYOBJ=nobody PYOMD=add", "NONE",
     "PyCallObjectMethod: no object is held under the id 'nobody'"},
    {"PyRemoveObject", "nobody", "FALSE", "PyRemoveObject: no object is held under the id 'nobody'"},
    {"PyRunSimpleFile", "missing.py", "FALSE",
     "PyRunSimpleFile: no readable script 'missing.py' in the script directories '"},
    {"PyCallObject", "PYMOD=tools PYOBJ=number", "NONE",
     "PyCallObject: the result is of type 'int', not text"},
    {"PyCallObject", "PYMOD=tools PYOBJ=items", "NONE",
     "PyCallObject: the result is of type 'list', not text"},
    // None is a procedure's normal answer, and a Python error has its traceback.
    {"PyCallObject", "PYMOD=tools PYOBJ=nothing", "NONE", ""},
    {"PyRunSimpleString", "x = 1", "TRUE", ""},
};

class ReasonTest : public ::testing::TestWithParam<ReasonCase> {};

TEST_P(ReasonTest, FailurePrintsOneLineNamingRequestAndCause) {
  const ReasonCase& c = GetParam();
  std::string answer;
  const std::string printed = CapturePythonStderr([&] { answer = Ask(c.function, c.parameters); });
  EXPECT_EQ(answer, c.answer);
  if (*c.reason == '\0') {
    EXPECT_EQ(printed, "");
    return;
  }
  EXPECT_EQ(printed.rfind("qorv_python: ", 0), 0u) << printed;
  EXPECT_THAT(printed, HasSubstr(c.reason));
  EXPECT_EQ(printed.find('\n'), printed.size() - 1) << printed;
}

INSTANTIATE_TEST_SUITE_P(Requests, ReasonTest, ::testing::ValuesIn(kReasonCases));

// A call that raised answers NONE, as a procedure does; after its traceback
// one line says that the request failed, and why.
TEST(Reasons, CallThatRaisedEndsWithALineAfterItsTraceback) {
  struct Case {
    const char* function;
    const char* parameters;
    const char* last;
  } const cases[] = {
      {"PyCallObject", "PYMOD=tools PYOBJ=fail", "qorv_python: PyCallObject: failed with ValueError"},
      {"PyCallObject", "PYMOD=no_such_module PYOBJ=f",
       "qorv_python: PyCallObject: failed with " PY_MODULE_NOT_FOUND},
      {"PyCreateObject", "PYMOD=tools PYOBJ=fail", "qorv_python: PyCreateObject: failed with ValueError"},
  };
  for (const Case& c : cases) {
    std::string answer;
    const std::string printed = CapturePythonStderr([&] { answer = Ask(c.function, c.parameters); });
    EXPECT_EQ(answer, "NONE");
    ASSERT_NE(printed.find('\n'), printed.size() - 1) << "the error itself comes first: " << printed;
    const std::size_t lastLine = printed.rfind('\n', printed.size() - 2) + 1;
    EXPECT_THAT(printed.substr(lastLine), HasSubstr(c.last)) << printed;
  }
}

// The exception that the time limit and PyInterrupt raise is Python code's to
// raise too; then it is an error like any other, with its traceback.
TEST(Reasons, RequestStoppedRaisedByPythonCodeIsAnErrorLikeAnyOther) {
  const std::string printed = CapturePythonStderr([] {
    EXPECT_EQ(Ask("PyRunSimpleString", "import qorv_python\nraise qorv_python.RequestInterrupted()"), "FALSE");
  });
  EXPECT_THAT(printed, HasSubstr("Traceback"));
  EXPECT_THAT(printed, HasSubstr("RequestInterrupted: the request was interrupted by the host"));
}

TEST(Reasons, ScriptNotFoundNamesEveryDirectorySearched) {
  const std::string printed =
      CapturePythonStderr([] { EXPECT_EQ(Ask("PyRunSimpleFile", "missing.py"), "FALSE"); });
  for (const char* directory : {"/scripts1'", "/scripts2'", "/scripts3'"}) {
    EXPECT_THAT(printed, HasSubstr(Root() + directory));
  }
}

}  // namespace
