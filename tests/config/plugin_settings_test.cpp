#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/plugin_settings.h"
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
  LogDetail log = LogDetail::None;
  const char* unknownLog = nullptr;
};

// Shown by name in test output (the default printer dumps the bytes).
void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

// Paths are joined with the separator given, "/" here.
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
    // The log key needs no prefix.
    {"LogErrors", "[QORV_PYTHON]\nlog=errors", std::nullopt, {}, {}, LogDetail::Errors},
    {"LogRequests", "[QORV_PYTHON]\nprefix=/p\nlog=requests", std::nullopt, {}, {},
     LogDetail::Requests},
    {"LogNone", "[QORV_PYTHON]\nlog=none", std::nullopt, {}, {}, LogDetail::None},
    {"LogUnknown", "[QORV_PYTHON]\nlog=Errors", std::nullopt, {}, {}, LogDetail::None, "Errors"},
};

class LoadSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(LoadSettingsTest, FillsTheDirectoryFields) {
  const SettingsCase& c = GetParam();
  TempDir dir;
  if (c.ini != nullptr) dir.Write("qorv_python.ini", c.ini);
  ScopedChdir inDir(dir.path());
  PluginSettings settings;
  // Twice, as two Opens would: the second read releases what the first made.
  for (int run = 0; run < 2; ++run) {
    ReadPluginSettings("qorv_python.ini", "/", &settings);
    EXPECT_EQ(settings.log, c.log);
    if (c.unknownLog != nullptr) {
      EXPECT_STREQ(settings.unknownLogValue(), c.unknownLog);
    } else {
      EXPECT_EQ(settings.unknownLogValue(), nullptr);
    }
    if (c.logDirectory) {
      ASSERT_NE(settings.logDirectory, nullptr);
      EXPECT_EQ(settings.logDirectory, *c.logDirectory);
    } else {
      EXPECT_EQ(settings.logDirectory, nullptr);
    }
    EXPECT_THAT(List(settings.moduleDirectories, settings.moduleDirectoryCount),
                ElementsAreArray(c.modules));
    EXPECT_THAT(List(settings.scriptDirectories, settings.scriptDirectoryCount),
                ElementsAreArray(c.scripts));
    if (c.scripts.empty()) {
      EXPECT_EQ(settings.scriptDirectories, nullptr);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
