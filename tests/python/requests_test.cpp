// The dispatcher with a running interpreter: which handler a name reaches,
// and what reaches the host's buffer.
#include <Python.h>
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "python/python_env.h"

namespace {

TEST(Dispatch, EachNameReachesItsOwnHandler) {
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo call"), "call");
  EXPECT_EQ(Ask("PyRunSimpleString", "dispatched = 'string'"), "TRUE");
  EXPECT_EQ(Ask("PyRunSimpleFile", "first.py"), "TRUE");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=dispatch"), "dispatch");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=dispatch PYOMD=add 2"), "2");
  EXPECT_EQ(Ask("PyRemoveObject", "dispatch"), "TRUE");
}

TEST(Dispatch, NamesMustMatchWholeAndExactly) {
  const char* const nearMisses[] = {"pyrunsimplestring", "PyRunSimpleString ", " PyRunSimpleString",
                                    "PyRunSimpleStrin", "PyRunSimpleStringX", "", "NONE"};
  for (const char* name : nearMisses) {
    const Answer answer = Send(name, "near_miss_ran = True");
    EXPECT_EQ(answer.text, "NONE") << '"' << name << '"';
    EXPECT_EQ(answer.buffer, "NONE") << '"' << name << '"';
  }
  EXPECT_EQ(Ask("PyRunSimpleString", "assert 'near_miss_ran' not in globals()"), "TRUE");
  // The longer name is its own request, not "PyCallObject" with a suffix.
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYMOD=tools PYOBJ=echo x"), "NONE");
}

TEST(Dispatch, AnswerIsInTheBufferAndSeparateFromIt) {
  std::vector<char> buffer(kQorvParameterBufferSize);
  std::strcpy(buffer.data(), "PYMOD=tools PYOBJ=echo hello");
  const char* answer = Plugin().HandleRequest("ignored", "PyCallObject", buffer.data());
  EXPECT_STREQ(answer, "hello");
  EXPECT_STREQ(buffer.data(), "hello");
  EXPECT_NE(answer, buffer.data());
}

TEST(Dispatch, EmptyAnswerIsAnAnswer) {
  const Answer answer = Send("PyCallObject", "PYMOD=tools PYOBJ=echo ''");
  EXPECT_EQ(answer.text, "");
  EXPECT_EQ(answer.buffer, "");
}

TEST(Dispatch, LongAnswerIsCutInTheBufferButWholeInTheReturnedText) {
  const std::size_t room = kQorvParameterBufferSize - 1;
  struct Case {
    std::size_t length;
    std::size_t inBuffer;
  } cases[] = {{room, room}, {room + 1, room}, {2 * kQorvParameterBufferSize, room}};
  for (const Case& c : cases) {
    const Answer answer = Send("PyCallObject", "PYMOD=tools PYOBJ=built " + std::to_string(c.length));
    EXPECT_EQ(answer.text.size(), c.length);
    EXPECT_EQ(answer.buffer.size(), c.inBuffer);
    EXPECT_EQ(answer.buffer, std::string(c.inBuffer, 'x'));
  }
}

TEST(Dispatch, FreshAnswerStaysValidUntilTheNextRequest) {
  std::vector<char> buffer(kQorvParameterBufferSize);
  std::strcpy(buffer.data(), "PYMOD=tools PYOBJ=built 100");
  const char* answer = Plugin().HandleRequest("", "PyCallObject", buffer.data());
  buffer[0] = '\0';  // the host may reuse its buffer at once
  EXPECT_EQ(std::string(answer), std::string(100, 'x'));
}

}  // namespace
