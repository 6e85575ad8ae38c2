#include "config/script_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

TEST(ScriptFiles, ReadsTheBytesAsTheyAreOnDisk) {
  TempDir dir;
  const std::string bytes = std::string("line\r\nnext\n\xff\x00tail", 16);
  const std::string path = dir.Write("script.py", bytes);
  std::string text;
  ASSERT_TRUE(ReadScriptFile(path.c_str(), &text));
  EXPECT_EQ(text, bytes);
}

TEST(ScriptFiles, OnlyRegularFilesCount) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("directory.py"));
  std::string text;
  EXPECT_FALSE(ReadScriptFile(dir.File("directory.py").c_str(), &text));
  EXPECT_FALSE(ReadScriptFile(dir.File("missing.py").c_str(), &text));
}

TEST(ScriptFiles, FirstDirectoryHoldingTheFileWins) {
  TempDir dir;
  dir.Write("b/both.py", "from b");
  dir.Write("c/both.py", "from c");
  std::filesystem::create_directories(dir.File("a/both.py"));  // not a file: the search goes on
  const std::string a = dir.File("a"), b = dir.File("b"), c = dir.File("c");
  const std::vector<std::string> directories = {a, b, c};
  std::string text;
  EXPECT_EQ(FindScriptFile(directories, "both.py", "/", &text), b + "/both.py");
  EXPECT_EQ(text, "from b");
  // The name is never trimmed (a leading space: Windows itself drops trailing ones).
  EXPECT_EQ(FindScriptFile(directories, " both.py", "/", &text), "");
  EXPECT_EQ(FindScriptFile({}, "both.py", "/", &text), "");
}

}  // namespace
