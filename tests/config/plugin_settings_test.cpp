#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "config/plugin_settings.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAreArray;

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
  const PluginSettings settings = ReadPluginSettings("qorv_python.ini", "/");
  EXPECT_EQ(settings.log, c.log);
  if (c.unknownLog != nullptr) {
    ASSERT_EQ(settings.warnings.size(), 1u);
    EXPECT_NE(settings.warnings[0].find(c.unknownLog), std::string::npos);
  }
  EXPECT_EQ(settings.logDirectorySet, c.logDirectory.has_value());
  if (c.logDirectory) {
    EXPECT_EQ(settings.logDirectory, *c.logDirectory);
  }
  EXPECT_THAT(settings.moduleDirectories, ElementsAreArray(c.modules));
  EXPECT_THAT(settings.scriptDirectories, ElementsAreArray(c.scripts));
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
