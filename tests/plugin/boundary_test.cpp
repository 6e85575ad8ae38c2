// The plugin as a host sees it: loaded with dlopen, reached only through
// GetClassObject and the virtual operations.
#include <dirent.h>
#include <dlfcn.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "qorv/plugin_base.h"
#include "support/child_process.h"
#include "support/loaded_plugin.h"
#include "support/requests.h"
#include "support/temp_dir.h"

namespace {

// Whether this process holds a file descriptor open on `path`.
bool HasOpenFile(const std::string& path) {
  DIR* fds = opendir("/proc/self/fd");
  bool found = false;
  while (dirent* entry = readdir(fds)) {
    char target[PATH_MAX] = {};
    const std::string link = std::string("/proc/self/fd/") + entry->d_name;
    if (readlink(link.c_str(), target, sizeof target - 1) > 0 && path == target) found = true;
  }
  closedir(fds);
  return found;
}

TEST(Boundary, OnlyGetClassObjectIsExported) {
  std::FILE* nm = popen("nm -D --defined-only " QORV_PLUGIN_PATH, "r");
  ASSERT_NE(nm, nullptr);
  std::set<std::string> names;
  char address[64], type[8], name[4096];
  while (std::fscanf(nm, "%63s %7s %4095s", address, type, name) == 3) names.insert(name);
  ASSERT_EQ(pclose(nm), 0);
  EXPECT_EQ(names, std::set<std::string>{"GetClassObject"});
}

TEST(Boundary, GetClassObjectAlwaysGivesTheSameObject) {
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.loaded()) << dlerror();
  PluginBase* first = plugin.Get();
  ASSERT_NE(first, nullptr);
  EXPECT_TRUE(first->Close());  // before any Open
  EXPECT_EQ(plugin.Get(), first);
}

TEST(Boundary, RequestsBeforeOpenAnswerNoneAndRunNothing) {
  LoadedPlugin plugin;
  ASSERT_TRUE(plugin.loaded()) << dlerror();
  TempDir dir;
  const std::string marker = dir.File("ran");
  std::vector<char> buffer(kQorvParameterBufferSize);
  const std::string code = "open('" + marker + "', 'w')";
  std::snprintf(buffer.data(), buffer.size(), "%s", code.c_str());
  const char* answer = plugin.Get()->HandleRequest("", "PyRunSimpleString", buffer.data());
  EXPECT_STREQ(answer, "NONE");
  EXPECT_STREQ(buffer.data(), "NONE");
  EXPECT_NE(answer, buffer.data());
  EXPECT_EQ(access(marker.c_str(), F_OK), -1);
}

// The interpreter a run starts lives in this process: the case gets a process of its own.
TEST(Boundary, UnloadWithoutCloseClosesEverythingAndReloadStartsAfresh) {
  RunInChildProcess([] {
    TempDir dir;
    const std::string log = dir.File("qorv_python.txt");
    {
      LoadedPlugin plugin;
      ASSERT_TRUE(plugin.loaded()) << dlerror();
      ASSERT_TRUE(plugin.Get()->Open(dir.path().c_str()));
      EXPECT_TRUE(HasOpenFile(log));
      plugin.Unload();  // no Close from the host
      EXPECT_FALSE(PluginStillLoaded());
      EXPECT_FALSE(HasOpenFile(log));
    }
    LoadedPlugin again;
    ASSERT_TRUE(again.loaded()) << dlerror();
    PluginBase* plugin = again.Get();
    ASSERT_TRUE(plugin->Open(dir.path().c_str()));
    EXPECT_EQ(Ask(*plugin, "PyRunSimpleString", "import math; x = math.sqrt(4)"), "TRUE");
    EXPECT_TRUE(plugin->Close());
    EXPECT_FALSE(HasOpenFile(log));
    EXPECT_TRUE(plugin->Close());
  });
}

}  // namespace
