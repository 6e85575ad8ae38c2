#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "qorv/plugin_base.h"
#include "support/temp_dir.h"

namespace {

// The base class with its fields in reach; HandleRequest is not under test.
class TestPlugin : public PluginBase {
 public:
  const char* HandleRequest(const char*, const char*, char*) override { return "NONE"; }
  bool LogOpen() const { return logFile != nullptr; }
  std::int32_t MaxLogSize() const { return maxLogSize; }
};

const std::string kBanner =
    "QORV base plugin\n"
    "(c) 2026 the qorv_python maintainers\n"
    "https://qorv-python.example.org/\n"
    "\n";
const std::string kNotice = "o Logfile hit maximum size limit, starting again.\n";

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
  EXPECT_EQ(ReadFile(path), "kept\n");
}

TEST_F(LogFileTest, PercentSignsBecomeTildesWhereverTheyComeFrom) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  plugin.WriteLog("%d%% done, %s\n", 50, "100% sure");
  EXPECT_EQ(ReadFile(path), "50~ done, 100~ sure\n");
}

TEST_F(LogFileTest, MessageLongerThanTheBufferIsCut) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  plugin.WriteLog("%s", std::string(70000, 'x').c_str());
  EXPECT_EQ(ReadFile(path), std::string(65535, 'x'));
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
  EXPECT_EQ(content.size(), 1048576u + 5);
  EXPECT_EQ(content.substr(1048576), "next\n");
}

TEST_F(LogFileTest, PastOneMebibyteTheNextMessageStartsTheFileAgain) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  FillLog(plugin, 1048577);
  plugin.WriteLog("next %d\n", 1);
  EXPECT_EQ(ReadFile(path), kBanner + kNotice + "next 1\n");
  plugin.WriteLog("more\n");
  EXPECT_EQ(ReadFile(path), kBanner + kNotice + "next 1\nmore\n");
}

TEST_F(LogFileTest, RolloverThatCannotReopenClosesTheLog) {
  ASSERT_TRUE(plugin.Open(path.c_str()));
  FillLog(plugin, 1048577);
  // A directory where the file was makes the reopening fail.
  ASSERT_EQ(std::remove(path.c_str()), 0);
  ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
  plugin.WriteLog("lost\n");
  EXPECT_FALSE(plugin.LogOpen());
  plugin.WriteLog("also lost\n");
  EXPECT_FALSE(plugin.LogOpen());
}

}  // namespace
