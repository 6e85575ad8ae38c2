// Id generation and the registry's bookkeeping, with stand-in objects: no
// interpreter is needed, and no object is ever released here.
#include <gtest/gtest.h>

#include <string>

#include "plugin/python_plugin.h"

namespace {

int dummy;
const PythonObject kObject = reinterpret_cast<PythonObject>(&dummy);

class ObjectIdsTest : public ::testing::Test {
 protected:
  void Hold(const std::string& id) { plugin.objectRegistry.Insert(id, kObject); }
  void HoldNumbers(int first, int last) {
    for (int n = first; n <= last; ++n) Hold("o_" + std::to_string(n));
  }
  PythonPlugin plugin;
};

TEST_F(ObjectIdsTest, CountsUpFromOneBelowTheCapWithoutLookingAtTheRegistry) {
  Hold("o_2");
  EXPECT_EQ(plugin.NewObjectId(), "o_1");
  EXPECT_EQ(plugin.NewObjectId(), "o_2");  // held already, not avoided
  EXPECT_EQ(plugin.objectCounter, 2);
}

TEST_F(ObjectIdsTest, PastTheCapTakesTheLowestFreeNumber) {
  plugin.objectCounter = 29999;
  EXPECT_EQ(plugin.NewObjectId(), "o_30000");
  EXPECT_EQ(plugin.NewObjectId(), "o_0");
  EXPECT_EQ(plugin.objectCounter, 30000);
  HoldNumbers(0, 9);
  EXPECT_EQ(plugin.NewObjectId(), "o_10");
  plugin.objectRegistry.Remove("o_5");
  EXPECT_EQ(plugin.NewObjectId(), "o_5");
  plugin.objectRegistry.Remove("o_0");
  EXPECT_EQ(plugin.NewObjectId(), "o_0");
  EXPECT_EQ(plugin.objectCounter, 30000);
}

TEST_F(ObjectIdsTest, RemovedNumberIsReusedOnlyOnceLowerOnesAreTaken) {
  plugin.objectCounter = 30000;
  HoldNumbers(3, 8);
  plugin.objectRegistry.Remove("o_5");
  EXPECT_EQ(plugin.NewObjectId(), "o_0");
  HoldNumbers(0, 2);
  EXPECT_EQ(plugin.NewObjectId(), "o_5");
  Hold("o_5");
  EXPECT_EQ(plugin.NewObjectId(), "o_9");
}

TEST_F(ObjectIdsTest, OnlyIdsOfTheGeneratedFormCount) {
  plugin.objectCounter = 30000;
  for (const char* id : {"o_00", "o_01", "O_0", "o_", "o_-0", "o_0x", " o_0", "o_0 ", "o_2147483648"}) {
    Hold(id);
  }
  EXPECT_EQ(plugin.NewObjectId(), "o_0");
  Hold("o_0");
  Hold("o_2147483647");
  EXPECT_EQ(plugin.NewObjectId(), "o_1");
}

TEST_F(ObjectIdsTest, RunsMergeAndSplitAsNumbersComeAndGo) {
  ObjectRegistry& registry = plugin.objectRegistry;
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
  EXPECT_EQ(registry.Insert("o_3", kObject).second, kObject);
  EXPECT_EQ(registry.LowestFreeNumber(), 8);
  while (!registry.Empty()) registry.TakeFirst();
  EXPECT_EQ(registry.LowestFreeNumber(), 0);
}

TEST(DigitCount, IsDigitsPlusOne) {
  const std::pair<std::int32_t, int> cases[] = {
      {0, 2}, {9, 2}, {10, 3}, {99, 3}, {100, 4}, {30000, 6}, {2147483647, 11}};
  for (auto [n, expected] : cases) EXPECT_EQ(DigitCount(n), expected) << n;
}

}  // namespace
