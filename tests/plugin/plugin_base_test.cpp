#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "qorv/plugin_base.h"
#include "support/temp_dir.h"

namespace {

// The base class with its fields in reach; HandleRequest is not under test.
class TestPlugin : public PluginBase {
 public:
  const char* HandleRequest(const char*, const char*, char*) override { return "NONE"; }
  bool LogOpen() const { return logFile != nullptr; }
  // Where a rollover opens the file again.
  void MoveLogTo(const std::string& path) {
    std::free(logFileName);
    logFileName = strdup(path.c_str());
  }
  std::int32_t MaxLogSize() const { return maxLogSize; }
};

// As they are stored: the log file is written in text mode.
const std::string kBanner = OnDisk(
    "QORV base plugin\n"
    "(c) 2026 the qorv_python maintainers\n"
    "https://qorv-python.example.org/\n"
    "\n");
const std::string kNotice = OnDisk("o Logfile hit maximum size limit, starting again.\n");
constexpr std::uintmax_t kLimit = 1048576;

class LogFileTest : public ::testing::Test {
 protected:
  TempDir dir;
  std::string path = dir.File("log.txt");
  TestPlugin plugin;
};

TEST_F(LogFileTest, FreshPluginHasNoLogAndTheOneMebibyteLimit) {
  EXPECT_FALSE(plugin.LogOpen());
  EXPECT_EQ(plugin.MaxLogSize(), 1048576);
}

TEST_F(LogFileTest, OpenEmptiesAnExistingFileAndWritesNothing) {
  dir.Write("log.txt", "old content");
  ASSERT_TRUE(plugin.Open(path.c_str()));
  EXPECT_EQ(ReadFile(path), "");
}

TEST_F(LogFileTest, OpenFailsWhenTheFileCannotBeCreated) {
  EXPECT_FALSE(plugin.Open(dir.File("missing/log.txt").c_str()));
  EXPECT_FALSE(plugin.LogOpen());
  plugin.WriteLog("dropped\n");  // closed log: nothing happens
}

TEST_F(LogFileTest, CloseBeforeOpenAndCloseTwiceAreHarmless) {
  EXPECT_TRUE(plugin.Close());
  ASSERT_TRUE(plugin.Open(path.c_str()));
  plugin.WriteLog("kept\n");
  EXPECT_TRUE(plugin.Close());
  EXPECT_TRUE(plugin.Close());
  plugin.WriteLog("after close\n");
  EXPECT_EQ(ReadFile(path), OnDisk("kept\n"));
}

TEST_F(LogFileTest, PercentSignsBecomeTildesWhereverTheyComeFrom) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  plugin.WriteLog("%d%% done, %s\n", 50, "100% sure");
  EXPECT_EQ(ReadFile(path), OnDisk("50~ done, 100~ sure\n"));
}

// A long traceback is written whole, and the message after it starts its
// own line; the "%" rule holds in it too.
TEST_F(LogFileTest, MessageLongerThanTheBufferIsWrittenWhole) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  const std::string message = std::string(100000, 'x') + "%\n";
  plugin.WriteLog("%s", message.c_str());
  plugin.WriteLog("next\n");
  EXPECT_EQ(ReadFile(path), OnDisk(std::string(100000, 'x') + "~\nnext\n"));
}

// Fills the log to `size` bytes with one message of that length.
void FillLog(TestPlugin& plugin, std::size_t size) {
  plugin.WriteLog("%s", std::string(size, 'a').substr(0, 65535).c_str());
  for (std::size_t written = 65535; written < size; written += 65535) {
    plugin.WriteLog("%s", std::string(std::min<std::size_t>(65535, size - written), 'a').c_str());
  }
}

TEST_F(LogFileTest, ExactlyOneMebibyteTakesOneMoreMessage) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  FillLog(plugin, 1048576);
  plugin.WriteLog("next\n");
  const std::string content = ReadFile(path);
  EXPECT_EQ(content.size(), kLimit + OnDisk("next\n").size());
  EXPECT_EQ(content.substr(kLimit), OnDisk("next\n"));
}

TEST_F(LogFileTest, PastOneMebibyteTheNextMessageStartsTheFileAgain) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  FillLog(plugin, 1048577);
  plugin.WriteLog("next %d\n", 1);
  EXPECT_EQ(ReadFile(path), kBanner + kNotice + OnDisk("next 1\n"));
  plugin.WriteLog("more\n");
  EXPECT_EQ(ReadFile(path), kBanner + kNotice + OnDisk("next 1\nmore\n"));
}

// The limit counts the bytes on disk. Where a line feed is stored as two
// bytes, text of fewer characters than the limit fills the file past it, and
// the next message starts the file again.
TEST_F(LogFileTest, LineFeedsCountAsTheyAreStored) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  const std::string line = std::string(999, 'a') + "\n";
  for (int lines = 0; lines < 1048; ++lines) plugin.WriteLog("%s", line.c_str());  // 1,048,000 characters
  const std::uintmax_t stored = std::filesystem::file_size(path);
  EXPECT_EQ(stored, 1048 * OnDisk(line).size());
  plugin.WriteLog("next\n");
  const bool startedAgain = ReadFile(path) == kBanner + kNotice + OnDisk("next\n");
  EXPECT_EQ(startedAgain, stored > kLimit) << stored << " bytes before the message";
}

TEST_F(LogFileTest, PathWithSpacesAndNonAsciiBytes) {
  const std::string odd = dir.File("with space/caf\xc3\xa9 \xe4\xb8\xad/log 1.txt");
  std::filesystem::create_directories(std::filesystem::path(odd).parent_path());
  ASSERT_TRUE(plugin.Open(odd.c_str()));
  plugin.WriteLog("%s\n", "caf\xc3\xa9");
  EXPECT_EQ(ReadFile(odd), OnDisk("caf\xc3\xa9\n"));
}

TEST_F(LogFileTest, RolloverThatCannotReopenClosesTheLog) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  FillLog(plugin, 1048577);
  // A path in no directory makes the reopening fail.
  plugin.MoveLogTo(dir.File("missing/log.txt"));
  plugin.WriteLog("lost\n");
  EXPECT_FALSE(plugin.LogOpen());
  plugin.WriteLog("also lost\n");
  EXPECT_FALSE(plugin.LogOpen());
}

}  // namespace
