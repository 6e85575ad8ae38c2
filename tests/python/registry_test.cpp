#include <Python.h>
#include <gtest/gtest.h>

#include <vector>

#include "python/python_env.h"

namespace {

class RegistryTest : public ::testing::Test {
 protected:
  // Each test starts with an empty registry and ids from "o_1".
  void SetUp() override { ResetRegistry(); }

  // How many tools.Tracked objects are alive.
  static int Alive() { return std::stoi(Ask("PyCallObject", "PYMOD=tools PYOBJ=alive")); }
};

TEST_F(RegistryTest, GeneratedIdsCountFromOneAndChosenIdsDoNotAdvance) {
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=mine"), "mine");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_2");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=nothing"), "o_3");  // None is held too
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=fail"), "NONE");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID"), "");  // the empty id
  EXPECT_EQ(Plugin().objectRegistry.Size(), 5u);
}

TEST_F(RegistryTest, MethodsOfHeldObjects) {
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=c 10"), "c");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c PYOMD=add 5"), "15");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c PYOMD=add"), "16");  // still held
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c PYOMD=no_such_method"), "NONE");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c"), "NONE");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOMD=add"), "NONE");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=C PYOMD=add"), "NONE");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c PYOMD=add x"), "NONE");  // int('x') raises
  EXPECT_FALSE(PythonErrorPending());
  EXPECT_EQ(Ask("PyRemoveObject", "c"), "TRUE");
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=c PYOMD=add"), "NONE");
}

TEST_F(RegistryTest, RemoveCutsTrailingSpacesOnly) {
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID"), "");
  struct Case {
    const char* text;
    const char* answer;
  } cases[] = {
      {" o_1", "FALSE"}, {"O_1", "FALSE"}, {"o_1   ", "TRUE"}, {"o_1", "FALSE"},
      {"   ", "FALSE"},  // not trimmed to the empty id
      {"", "TRUE"},      {"", "FALSE"},
  };
  for (const Case& c : cases) {
    const Answer answer = Send("PyRemoveObject", c.text);
    EXPECT_EQ(answer.text, c.answer) << '"' << c.text << '"';
    EXPECT_EQ(answer.buffer, c.answer);
  }
}

TEST_F(RegistryTest, ObjectsAreReleasedWhenRemovedOrReplaced) {
  const int before = Alive();
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t"), "t");
  EXPECT_EQ(Alive(), before + 1);
  // Registering under a held id releases the object it held.
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t"), "t");
  EXPECT_EQ(Alive(), before + 1);
  EXPECT_EQ(Ask("PyRemoveObject", "t"), "TRUE");
  EXPECT_EQ(Alive(), before);
}

TEST_F(RegistryTest, TheSameObjectRegisteredAgainUnderItsIdIsHeldOnce) {
  const int before = Alive();
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=keep_tracked SETID=same"), "same");
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=keep_tracked SETID=same"), "same");
  ASSERT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=forget_kept"), "");
  EXPECT_EQ(Alive(), before + 1);  // held by the registry alone
  EXPECT_EQ(Ask("PyRemoveObject", "same"), "TRUE");
  EXPECT_EQ(Alive(), before);  // its __del__ ran
}

TEST_F(RegistryTest, GeneratedIdIsNotAvoidedBelowTheCap) {
  const int before = Alive();
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=o_2"), "o_2");
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
  // The second generated id is o_2 all the same: the entry now holds the
  // new object, and the Tracked one it held is released.
  EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter 7"), "o_2");
  EXPECT_EQ(Alive(), before);
  EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=o_2 PYOMD=add 1"), "8");
}

TEST_F(RegistryTest, CreatedIdStaysValidUntilTheEntryIsRemoved) {
  std::vector<char> buffer(kQorvParameterBufferSize);
  std::snprintf(buffer.data(), buffer.size(), "PYMOD=tools PYOBJ=Counter SETID=kept");
  const char* id = Plugin().HandleRequest("", "PyCreateObject", buffer.data());
  Ask("PyCallObject", "PYMOD=tools PYOBJ=built 1000");
  EXPECT_STREQ(id, "kept");
}

TEST_F(RegistryTest, ExceptionInDelOnRemovalIsPrintedAndCleared) {
  ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=RaisesOnDel SETID=r"), "r");
  const std::string printed = CapturePythonStderr([] { EXPECT_EQ(Ask("PyRemoveObject", "r"), "TRUE"); });
  EXPECT_NE(printed.find("raised in __del__"), std::string::npos) << printed;
  EXPECT_FALSE(PythonErrorPending());
  EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo ok"), "ok");
}

}  // namespace
