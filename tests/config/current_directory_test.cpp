#include "config/current_directory.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace {

TEST(BelowCurrentDirectory, PutsARelativePathBelowTheCurrentDirectoryAndLeavesTheRest) {
  TempDir dir;
  const ScopedChdir into(dir.path());
  const std::string here = std::filesystem::current_path().string();
  EXPECT_EQ(CurrentDirectory(), here);
  struct Case {
    std::string path;
    const char* separator;
    std::string expected;
  } cases[] = {
      {"scripts", "/", here + "/scripts"},
      {"a/../b", "\\", here + "\\a/../b"},  // the separator given, and no normalisation
      {"", "/", here + "/"},
#if defined(_WIN32)
      {R"(C:\x)", "\\", R"(C:\x)"},
      {"C:x", "\\", "C:x"},  // relative to drive C's own directory, not to this one
      {R"(\x)", "\\", R"(\x)"},  // the root of the current drive
      {"/x", "\\", "/x"},
      {R"(\\server\share)", "\\", R"(\\server\share)"},
#else
      {"/srv/x", "/", "/srv/x"},
      {R"(\x)", "/", here + R"(/\x)"},  // a backslash is part of a name here
#endif
  };
  for (const Case& c : cases) {
    EXPECT_EQ(BelowCurrentDirectory(c.path, c.separator), c.expected) << "path '" << c.path << "'";
  }
}

TEST(BelowCurrentDirectory, AtTheRootAddsNoSecondSeparator) {
  const std::string root = std::filesystem::current_path().root_path().string();
  const ScopedChdir into(root);
  EXPECT_EQ(BelowCurrentDirectory("x", "/"), root + "x");
}

}  // namespace
