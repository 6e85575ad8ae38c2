// Id generation and the registry's bookkeeping, with stand-in objects: no
// interpreter is needed, and releasing an object only counts it.
#include "requests/object_registry.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

int dummies[3];
const PythonObject kObject = reinterpret_cast<PythonObject>(&dummies[0]);
const PythonObject kOther = reinterpret_cast<PythonObject>(&dummies[1]);

std::map<PythonObject, int> released;
void CountRelease(PythonObject object) { ++released[object]; }

class ObjectIdsTest : public ::testing::Test {
 protected:
  void SetUp() override { released.clear(); }
  void Hold(const std::string& id) { registry.Register(kObject, id.c_str()); }
  void HoldNumbers(int first, int last) {
    for (int n = first; n <= last; ++n) Hold("o_" + std::to_string(n));
  }
  std::string NewObjectId() { return registry.NewObjectId(); }
  ObjectRegistry registry{&CountRelease};
};

TEST_F(ObjectIdsTest, CountsUpFromOneBelowTheCapWithoutLookingAtTheRegistry) {
  Hold("o_2");
  EXPECT_EQ(NewObjectId(), "o_1");
  EXPECT_EQ(NewObjectId(), "o_2");  // held already, not avoided
  EXPECT_EQ(registry.objectCounter(), 2);
}

TEST_F(ObjectIdsTest, PastTheCapTakesTheLowestFreeNumber) {
  registry.SetObjectCounter(29999);
  EXPECT_EQ(NewObjectId(), "o_30000");
  EXPECT_EQ(NewObjectId(), "o_0");
  EXPECT_EQ(registry.objectCounter(), 30000);
  HoldNumbers(0, 9);
  EXPECT_EQ(NewObjectId(), "o_10");
  registry.Remove("o_5");
  EXPECT_EQ(NewObjectId(), "o_5");
  registry.Remove("o_0");
  EXPECT_EQ(NewObjectId(), "o_0");
  EXPECT_EQ(registry.objectCounter(), 30000);
}

TEST_F(ObjectIdsTest, RemovedNumberIsReusedOnlyOnceLowerOnesAreTaken) {
  registry.SetObjectCounter(30000);
  HoldNumbers(3, 8);
  registry.Remove("o_5");
  EXPECT_EQ(NewObjectId(), "o_0");
  HoldNumbers(0, 2);
  EXPECT_EQ(NewObjectId(), "o_5");
  Hold("o_5");
  EXPECT_EQ(NewObjectId(), "o_9");
}

TEST_F(ObjectIdsTest, OnlyIdsOfTheGeneratedFormCount) {
  registry.SetObjectCounter(30000);
  for (const char* id : {"o_00", "o_01", "O_0", "o_", "o_-0", "o_0x", " o_0", "o_0 ", "o_2147483648"}) {
    Hold(id);
  }
  EXPECT_EQ(NewObjectId(), "o_0");
  Hold("o_0");
  Hold("o_2147483647");
  EXPECT_EQ(NewObjectId(), "o_1");
}

TEST_F(ObjectIdsTest, RunsMergeAndSplitAsNumbersComeAndGo) {
  HoldNumbers(1, 3);
  HoldNumbers(5, 7);
  EXPECT_EQ(registry.LowestFreeNumber(), 0);
  Hold("o_0");
  EXPECT_EQ(registry.LowestFreeNumber(), 4);
  Hold("o_4");  // joins 0-3 and 5-7
  EXPECT_EQ(registry.LowestFreeNumber(), 8);
  registry.Remove("o_6");  // splits 0-7
  EXPECT_EQ(registry.LowestFreeNumber(), 6);
  registry.Remove("o_0");
  EXPECT_EQ(registry.LowestFreeNumber(), 0);
  Hold("o_0");
  Hold("o_6");
  EXPECT_EQ(registry.LowestFreeNumber(), 8);
  // Replacing an entry's object keeps its number held.
  registry.Register(kOther, "o_3");
  EXPECT_EQ(registry.Find("o_3"), kOther);
  EXPECT_EQ(registry.LowestFreeNumber(), 8);
  registry.Clear(false);
  EXPECT_TRUE(registry.Empty());
  EXPECT_EQ(registry.LowestFreeNumber(), 0);
}

TEST_F(ObjectIdsTest, EveryHeldReferenceIsReleasedExactlyOnce) {
  EXPECT_EQ(registry.Register(kObject, "a"), "a");
  // The same object again under the same id: the entry holds the new
  // reference, and the one it held is released.
  EXPECT_EQ(registry.Register(kObject, "a"), "a");
  EXPECT_EQ(released[kObject], 1);
  registry.Register(kOther, "a");
  EXPECT_EQ(released[kObject], 2);
  EXPECT_TRUE(registry.Remove("a"));
  EXPECT_FALSE(registry.Remove("a"));
  EXPECT_EQ(released[kOther], 1);
  registry.Register(kObject, nullptr);
  registry.Register(kOther, nullptr);
  registry.Clear(true);
  EXPECT_EQ(released[kObject], 3);
  EXPECT_EQ(released[kOther], 2);
  registry.Register(kObject, "gone with its interpreter");
  registry.Clear(false);
  EXPECT_EQ(released[kObject], 3);
}

TEST_F(ObjectIdsTest, CounterStartsAgainAfterAReset) {
  EXPECT_EQ(NewObjectId(), "o_1");
  registry.ResetCounter();
  EXPECT_EQ(NewObjectId(), "o_1");
  EXPECT_EQ(registry.Register(kObject, nullptr), std::string("o_2"));
}

TEST(DigitCount, IsDigitsPlusOne) {
  const std::pair<std::int32_t, int> cases[] = {
      {0, 2}, {9, 2}, {10, 3}, {99, 3}, {100, 4}, {30000, 6}, {2147483647, 11}};
  for (auto [n, expected] : cases) EXPECT_EQ(DigitCount(n), expected) << n;
}

}  // namespace
