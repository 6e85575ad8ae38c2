#include "lifecycle/opened_plugin.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <vector>

PluginRun::PluginRun() {
  std::filesystem::copy(QORV_FIXTURES "/python", dir.path(),
                        std::filesystem::copy_options::recursive);
  dir.Write("qorv_python.ini", "[QORV_PYTHON]\nprefix=" + dir.path() + "\nscriptdir=scripts1\n");
  if (chdir(dir.path().c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir.path();
}

PluginRun::~PluginRun() {
  plugin.Close();
  if (chdir("/") != 0) ADD_FAILURE();
}

bool PluginRun::Open() {
  if (!plugin.Open(dir.path().c_str())) return false;
  return Ask("PyRunSimpleString", "sys.path.insert(0, '" + dir.path() + "/modules')") == "TRUE";
}

std::string PluginRun::Ask(const std::string& function, const std::string& parameters) {
  std::vector<char> buffer(std::max(kQorvParameterBufferSize, parameters.size() + 1));
  std::copy(parameters.begin(), parameters.end(), buffer.begin());
  return plugin.HandleRequest("", function.c_str(), buffer.data());
}

void PluginRun::Run(const std::string& source) {
  EXPECT_EQ(Ask("PyRunSimpleString", source), "TRUE") << source;
}

long ResidentKiB() {
  long pages = 0, resident = 0;
  std::FILE* statm = std::fopen("/proc/self/statm", "r");
  if (statm == nullptr) return -1;
  if (std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = -1;
  std::fclose(statm);
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}
