// Objects held under ids between requests. Each case runs in a run of its
// own (a process of its own), so that the registry is empty and generated
// ids count from "o_1".
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

PluginRun* current = nullptr;

std::string Ask(const std::string& function, const std::string& parameters) {
  return current->Ask(function, parameters);
}
Answer Send(const std::string& function, const std::string& parameters) {
  return ::Send(current->plugin, function, parameters);
}

class RegistryTest : public ::testing::Test {
 protected:
  static void InFreshRun(const std::function<void()>& body) {
    RunInChildProcess([&body] {
      PluginRun run;
      ASSERT_TRUE(run.Open());
      current = &run;
      body();
      current = nullptr;
    });
  }

  // How many tools.Tracked objects are alive.
  static int Alive() { return std::stoi(Ask("PyCallObject", "PYMOD=tools PYOBJ=alive")); }
};

TEST_F(RegistryTest, GeneratedIdsCountFromOneAndChosenIdsDoNotAdvance) {
  InFreshRun([] {
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID=mine"), "mine");
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_2");
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=nothing"), "o_3");  // None is held too
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=fail"), "NONE");
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter SETID"), "");  // the empty id
    for (const char* id : {"o_1", "mine", "o_2", "o_3", ""}) EXPECT_EQ(Ask("PyRemoveObject", id), "TRUE") << id;
  });
}

TEST_F(RegistryTest, MethodsOfHeldObjects) {
  InFreshRun([] {
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
  });
}

TEST_F(RegistryTest, RemoveCutsTrailingSpacesOnly) {
  InFreshRun([] {
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
  });
}

TEST_F(RegistryTest, ObjectsAreReleasedWhenRemovedOrReplaced) {
  InFreshRun([] {
    const int before = Alive();
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t"), "t");
    EXPECT_EQ(Alive(), before + 1);
    // Registering under a held id releases the object it held.
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=t"), "t");
    EXPECT_EQ(Alive(), before + 1);
    EXPECT_EQ(Ask("PyRemoveObject", "t"), "TRUE");
    EXPECT_EQ(Alive(), before);
  });
}

TEST_F(RegistryTest, TheSameObjectRegisteredAgainUnderItsIdIsHeldOnce) {
  InFreshRun([] {
    const int before = Alive();
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=keep_tracked SETID=same"), "same");
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=keep_tracked SETID=same"), "same");
    ASSERT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=forget_kept"), "");
    EXPECT_EQ(Alive(), before + 1);  // held by the registry alone
    EXPECT_EQ(Ask("PyRemoveObject", "same"), "TRUE");
    EXPECT_EQ(Alive(), before);  // its __del__ ran
  });
}

TEST_F(RegistryTest, GeneratedIdIsNotAvoidedBelowTheCap) {
  InFreshRun([] {
    const int before = Alive();
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Tracked SETID=o_2"), "o_2");
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter"), "o_1");
    // The second generated id is o_2 all the same: the entry now holds the
    // new object, and the Tracked one it held is released.
    EXPECT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=Counter 7"), "o_2");
    EXPECT_EQ(Alive(), before);
    EXPECT_EQ(Ask("PyCallObjectMethod", "PYOBJ=o_2 PYOMD=add 1"), "8");
  });
}

TEST_F(RegistryTest, ExceptionInDelOnRemovalIsPrintedAndCleared) {
  InFreshRun([] {
    ASSERT_EQ(Ask("PyCreateObject", "PYMOD=tools PYOBJ=RaisesOnDel SETID=r"), "r");
    const std::string printed =
        current->CapturePythonStderr([] { EXPECT_EQ(Ask("PyRemoveObject", "r"), "TRUE"); });
    EXPECT_NE(printed.find("raised in __del__"), std::string::npos) << printed;
    EXPECT_EQ(Ask("PyCallObject", "PYMOD=tools PYOBJ=echo ok"), "ok");
  });
}

}  // namespace
