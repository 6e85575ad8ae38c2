#include <Python.h>
#include <gtest/gtest.h>

#include "python/python_env.h"

namespace {

struct CallCase {
  const char* parameters;
  const char* answer;
};

const CallCase kCallCases[] = {
    {"PYMOD=tools PYOBJ=echo abc", "abc"},
    {"PYMOD=tools PYOBJ=arg_count", "0"},  // called with an empty tuple
    {"PYMOD=tools PYOBJ=arg_count a b 'c d' ''", "4"},
    {"PYMOD=tools PYOBJ=join 'a b' c", "a b|c"},
    {R"(PYMOD=tools PYOBJ=echo 'it\'s')", "it's"},
    {"PYMOD=tools PYOBJ=with_nul", "ab"},  // the text before the NUL
    {"PYMOD=tools PYOBJ=as_bytes", "raw"},
    {"PYMOD=tools PYOBJ=built 3", "xxx"},
    {"PYMOD=os.path PYOBJ=join a b", "a/b"},
    // No text: numbers, None, lists.
    {"PYMOD=tools PYOBJ=number", "NONE"},
    {"PYMOD=tools PYOBJ=nothing", "NONE"},
    {"PYMOD=tools PYOBJ=items", "NONE"},
    // Failures of each step.
    {"PYMOD=no_such_module PYOBJ=f", "NONE"},
    {"PYMOD=broken PYOBJ=f", "NONE"},
    {"PYMOD=tools PYOBJ=no_such_function", "NONE"},
    {"PYMOD=tools PYOBJ=not_callable", "NONE"},
    {"PYMOD=tools PYOBJ=fail", "NONE"},
    {"PYMOD=tools PYOBJ=exit_now", "NONE"},
    {"PYMOD=tools PYOBJ=echo a b c", "a"},
    {"PYOBJ=echo x", "NONE"},
    {"PYMOD=tools x", "NONE"},
    {"PYMOD=tools PYOBJ=echo 'x", "NONE"},
};

class CallObjectTest : public ::testing::TestWithParam<CallCase> {};

TEST_P(CallObjectTest, AnswersTheResultTextOrNone) {
  EXPECT_EQ(Ask("PyCallObject", GetParam().parameters), GetParam().answer);
  // Whatever failed, no Python error is left for the next request.
  EXPECT_FALSE(PythonErrorPending());
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo next"), "next");
}

INSTANTIATE_TEST_SUITE_P(Calls, CallObjectTest, ::testing::ValuesIn(kCallCases));

TEST(CallObject, FailuresArePrintedOnPythonsStderr) {
  const std::string printed = CapturePythonStderr([] {
    Ask("PyCallObject", "PYMOD=tools PYOBJ=fail");
    Ask("PyCallObject", "PYMOD=no_such_module PYOBJ=f");
    Ask("PyCallObject", "PYMOD=tools PYOBJ=exit_now");
  });
  EXPECT_NE(printed.find("ValueError: boom"), std::string::npos) << printed;
  EXPECT_NE(printed.find("no_such_module"), std::string::npos) << printed;
  EXPECT_NE(printed.find("SystemExit: 3"), std::string::npos) << printed;
}

TEST(CallObject, ModuleStatePersistsUntilTheModuleLeavesSysModules) {
  const int first = std::stoi(Ask("PyCallObject", "PYMOD=tools PYOBJ=count"));
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=count"), std::to_string(first + 1));
  EXPECT_EQ(Ask("PyRunSimpleString", "del sys.modules['tools']"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=count"), "1");  // imported anew
}

// Calls of the same function are quick to find again, but never stale.
TEST(CallObject, SeesWhateverTheNameStandsForAtEachCall) {
  auto swapped = [] { return Ask("PyCallObject", "PYMOD=tools PYOBJ=swapped"); };
  ASSERT_EQ(Ask("PyRunSimpleString", "import tools, types\ntools.swapped = lambda: 'first'"), "TRUE");
  EXPECT_EQ(swapped(), "first");
  EXPECT_EQ(swapped(), "first");
  ASSERT_EQ(Ask("PyRunSimpleString", "tools.swapped = lambda: 'rebound'"), "TRUE");
  EXPECT_EQ(swapped(), "rebound");
  ASSERT_EQ(Ask("PyRunSimpleString",
                "stand_in = types.ModuleType('tools')\n"
                "stand_in.swapped = lambda: 'stand-in'\n"
                "sys.modules['tools'] = stand_in"),
            "TRUE");
  EXPECT_EQ(swapped(), "stand-in");
  ASSERT_EQ(Ask("PyRunSimpleString", "sys.modules['tools'] = tools"), "TRUE");
  EXPECT_EQ(swapped(), "rebound");
  // The namespace and sys.modules grow between calls, moving their entries,
  // and shrink again; the name is bound anew in between.
  const char* const grow =
      "for i in range(3000):\n"
      "    setattr(tools, 'filler%d' % i, i)\n"
      "    sys.modules['filler%d' % i] = tools";
  const char* const shrink =
      "for i in range(3000):\n"
      "    delattr(tools, 'filler%d' % i)\n"
      "    del sys.modules['filler%d' % i]";
  ASSERT_EQ(Ask("PyRunSimpleString", grow), "TRUE");
  EXPECT_EQ(swapped(), "rebound");
  ASSERT_EQ(Ask("PyRunSimpleString", "tools.swapped = lambda: 'grown'"), "TRUE");
  EXPECT_EQ(swapped(), "grown");
  ASSERT_EQ(Ask("PyRunSimpleString", shrink), "TRUE");
  EXPECT_EQ(swapped(), "grown");
  ASSERT_EQ(Ask("PyRunSimpleString", "tools.swapped = lambda: 'shrunk'"), "TRUE");
  EXPECT_EQ(swapped(), "shrunk");
  ASSERT_EQ(Ask("PyRunSimpleString", "del tools.swapped"), "TRUE");
  EXPECT_EQ(swapped(), "NONE");
#if PY_MAJOR_VERSION >= 3
  // A module whose class gives the name a property of its own.
  ASSERT_EQ(Ask("PyRunSimpleString",
                "tools.swapped = lambda: 'plain'\n"
                "class WithProperty(types.ModuleType):\n"
                "    swapped = property(lambda self: lambda: 'property')\n"
                "tools.__class__ = WithProperty"),
            "TRUE");
  EXPECT_EQ(swapped(), "property");
  ASSERT_EQ(Ask("PyRunSimpleString", "tools.__class__ = types.ModuleType"), "TRUE");
  EXPECT_EQ(swapped(), "plain");
#endif
}

// A method is whatever getattr finds on the held object, called with the
// texts; what getattr or the call raise is printed, and the answer is NONE.
TEST(CallObjectMethod, CallsWhatGetattrFinds) {
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Kinds SETID=kinds"), "kinds");
  const struct {
    const char* method;
    const char* answer;
    const char* printed;
  } cases[] = {
      {"plain a b", "kinds plain a b", ""}, {"static a", "static a", ""},
      {"of_class a", "Kinds a", ""},         {"stored a", "stored a", ""},
      {"made a", "made a", ""},              {"dynamic a", "dynamic a", ""},
      {"text", "NONE", "TypeError"},         {"missing a", "NONE", "AttributeError"},
  };
  for (const auto& c : cases) {
    std::string answer;
    const std::string printed = CapturePythonStderr(
        [&] { answer = Ask("PyCallObjectMethod", std::string("PYOBJ=kinds PYOMD=") + c.method); });
    EXPECT_EQ(answer, c.answer) << c.method;
    if (*c.printed == '\0') {
      EXPECT_EQ(printed, "") << c.method;
    } else {
      EXPECT_NE(printed.find(c.printed), std::string::npos) << c.method << ": " << printed;
    }
  }
  EXPECT_EQ(Ask("PyRemoveObject", "kinds"), "TRUE");
}

TEST(CallObject, EveryByteSurvivesTheRoundTrip) {
  std::string bytes;
  for (int c = 1; c < 256; ++c) {
    if (c != ' ' && c != '\'' && c != '\\') bytes.push_back(static_cast<char>(c));
  }
  const std::string invalidUtf8 = "\xff\xfe\xc3(\xed\xa0\x80";
  for (const std::string& text : {bytes, invalidUtf8}) {
    EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo " + text), text);
  }
}

TEST(CallObject, UnicodeResult) {
#if PY_MAJOR_VERSION >= 3
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo \xc3\xa9"), "\xc3\xa9");
  // A lone surrogate that no byte stands for cannot be encoded back.
  EXPECT_EQ(Ask("PyRunSimpleString", "import tools; tools.lone = lambda: '\\ud800'"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=lone"), "NONE");
#else
  // Unicode answers in the default encoding, ASCII here.
  EXPECT_EQ(Ask("PyRunSimpleString", "import tools; tools.uni = lambda t: unicode(t)"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=uni abc"), "abc");
  EXPECT_EQ(Ask("PyRunSimpleString", "tools.lone = lambda: u'\\xe9'"), "TRUE");
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=lone"), "NONE");
#endif
  EXPECT_FALSE(PythonErrorPending());
}

}  // namespace
