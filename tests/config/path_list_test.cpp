#include "config/path_list.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAreArray;

TEST(JoinPath, PutsTheSeparatorBetweenAndNowhereElse) {
  struct Case {
    const char* head;
    const char* tail;
    const char* expected;
  } cases[] = {
      {"a", "b", R"(a\b)"},
      {R"(D:\srv\)", "one", R"(D:\srv\\one)"},  // no normalisation
      {"", "scripts", R"(\scripts)"},
      {"dir", "", R"(dir\)"},
  };
  for (const Case& c : cases) {
    char* joined = JoinPath(c.head, c.tail, "\\");
    EXPECT_STREQ(joined, c.expected);
    std::free(joined);
  }
  char* slash = JoinPath("a", "b", "/");
  EXPECT_STREQ(slash, "a/b");
  std::free(slash);
  EXPECT_EQ(JoinPath(nullptr, nullptr, nullptr), nullptr);
}

std::vector<std::string> Split(const char* text) {
  char** items = reinterpret_cast<char**>(0x1);  // must be overwritten
  const std::int32_t count = SplitList(text, &items);
  std::vector<std::string> result;
  if (count == 0) {
    EXPECT_EQ(items, nullptr) << "text: " << text;
  }
  for (std::int32_t i = 0; i < count; ++i) result.emplace_back(items[i]);
  if (count > 0) {
    EXPECT_EQ(FreeList(items, count), count);
  }
  return result;
}

TEST(SplitList, ItemsEndAtTheirFirstSpace) {
  struct Case {
    const char* text;
    std::vector<std::string> items;
  } cases[] = {
      {"", {}},
      {" , ,", {}},
      {"ab", {"ab"}},
      {"ab cd", {"ab"}},  // what follows the first space is dropped
      {"one, two ,three four,,five,", {"one", "two", "three", "five"}},
      {"one,\ttwo", {"one", "\ttwo"}},  // a tab is an ordinary character
      {"a\xE9,b", {"a\xE9", "b"}},
  };
  for (const Case& c : cases) {
    EXPECT_THAT(Split(c.text), ElementsAreArray(c.items)) << "text: " << c.text;
  }
}

TEST(FreeList, CountsWhatItFrees) {
  EXPECT_EQ(FreeList(nullptr, 3), -1);
  EXPECT_EQ(FreeList(nullptr, 0), 0);
  char** items = static_cast<char**>(std::malloc(3 * sizeof(char*)));
  items[0] = strdup("a");
  items[1] = nullptr;
  items[2] = strdup("c");
  EXPECT_EQ(FreeList(items, 3), 2);
}

}  // namespace
