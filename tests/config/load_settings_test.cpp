#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "plugin/python_plugin.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAreArray;

std::vector<std::string> List(char** items, std::int32_t count) {
  return count == 0 ? std::vector<std::string>{} : std::vector<std::string>(items, items + count);
}

struct SettingsCase {
  const char* name;
  const char* ini;  // null: no settings file at all
  std::optional<std::string> logDirectory;
  std::vector<std::string> modules;
  std::vector<std::string> scripts;
};

// Shown by name in test output (the default printer dumps the bytes).
void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

// Paths are joined with "/" on this platform.
const SettingsCase kCases[] = {
    {"NoFile", nullptr, std::nullopt, {}, {}},
    {"NoPrefix", "[QORV_PYTHON]\nscriptdir=a\nlogdir=l", std::nullopt, {}, {}},
    {"SpacesAroundEquals", "[QORV_PYTHON]\nprefix = /srv\nscriptdir=a", std::nullopt, {}, {}},
    {"SectionNameIsCaseSensitive", "[qorv_python]\nprefix=/srv\nscriptdir=a", std::nullopt, {}, {}},
    {"ScriptList", "[QORV_PYTHON]\nprefix=/srv\nscriptdir=one, two ,three four,,five,",
     std::nullopt, {}, {"/srv/one", "/srv/two", "/srv/three", "/srv/five"}},
    {"ModuleSubdirectories", "[QORV_PYTHON]\nprefix=/srv\nmoduledir=mods\nmodulesubdir=x,y",
     std::nullopt, {"/srv/mods", "/srv/mods/x", "/srv/mods/y"}, {}},
    {"ModuleDirectoryAlone", "[QORV_PYTHON]\nprefix=/srv\nmoduledir=mods", std::nullopt,
     {"/srv/mods"}, {}},
    {"SubdirectoriesWithoutModuleDirectory", "[QORV_PYTHON]\nprefix=/srv\nmodulesubdir=x,y",
     std::nullopt, {}, {}},
    {"EmptyPrefix", "[QORV_PYTHON]\nprefix=\nscriptdir=scripts\nlogdir=logs", "/logs", {},
     {"/scripts"}},
    {"PrefixEndingInSeparator", "[QORV_PYTHON]\nprefix=/srv/\nscriptdir=one", std::nullopt, {},
     {"/srv//one"}},
    {"EmptyLogdir", "[QORV_PYTHON]\nprefix=/srv\nlogdir=", "/srv/", {}, {}},
    {"EmptyScriptList", "[QORV_PYTHON]\nprefix=/srv\nscriptdir= , ,", std::nullopt, {}, {}},
    {"TabStartsAnItem", "[QORV_PYTHON]\nprefix=/srv\nscriptdir=one,\ttwo", std::nullopt, {},
     {"/srv/one", "/srv/\ttwo"}},
    {"Everything",
     "[other]\nprefix=/no\n[QORV_PYTHON]\nprefix=/p\nlogdir=log\nmoduledir=m\nmodulesubdir=a\n"
     "scriptdir=s,t",
     "/p/log", {"/p/m", "/p/m/a"}, {"/p/s", "/p/t"}},
};

class LoadSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(LoadSettingsTest, FillsTheDirectoryFields) {
  const SettingsCase& c = GetParam();
  TempDir dir;
  if (c.ini != nullptr) dir.Write("qorv_python.ini", c.ini);
  ScopedChdir inDir(dir.path());
  PythonPlugin plugin;
  // Twice, as two Opens would: the second run releases what the first made.
  for (int run = 0; run < 2; ++run) {
    plugin.ReleaseSettings();
    EXPECT_TRUE(plugin.LoadSettings());
    if (c.logDirectory) {
      ASSERT_NE(plugin.logDirectory, nullptr);
      EXPECT_EQ(plugin.logDirectory, *c.logDirectory);
    } else {
      EXPECT_EQ(plugin.logDirectory, nullptr);
    }
    EXPECT_THAT(List(plugin.moduleDirectories, plugin.moduleDirectoryCount),
                ElementsAreArray(c.modules));
    EXPECT_THAT(List(plugin.scriptDirectories, plugin.scriptDirectoryCount),
                ElementsAreArray(c.scripts));
    if (c.scripts.empty()) {
      EXPECT_EQ(plugin.scriptDirectories, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
