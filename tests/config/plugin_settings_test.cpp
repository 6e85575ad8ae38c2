#include "config/plugin_settings.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "config/path_list.h"
#include "support/temp_dir.h"

namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;
using ::testing::StartsWith;

constexpr const char kFileVariable[] = "QORV_PYTHON_SETTINGS";

// Sets or removes an environment variable for the object's lifetime. (On
// Windows an empty value removes the variable.)
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* previous = std::getenv(name)) previous_ = previous;
    Set(value);
  }
  ~ScopedEnv() { Set(previous_ ? previous_->c_str() : nullptr); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  void Set(const char* value) {
#if defined(_WIN32)
    _putenv_s(name_.c_str(), value != nullptr ? value : "");
#else
    if (value != nullptr) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
#endif
  }

  std::string name_;
  std::optional<std::string> previous_;
};

std::string CurrentDirectory() { return std::filesystem::current_path().string(); }

// Replaces each "$DIR" with `dir`.
std::string Expand(std::string text, const std::string& dir) {
  for (std::size_t at = text.find("$DIR"); at != std::string::npos; at = text.find("$DIR", at)) {
    text.replace(at, 4, dir);
    at += dir.size();
  }
  return text;
}

struct SettingsCase {
  const char* name;
  const char* ini;  // null: no settings file at all; "$DIR" is the directory it is read in
  std::optional<std::string> logDirectory;
  std::vector<std::string> modules;
  std::vector<std::string> scripts;
  LogDetail log = LogDetail::None;
  std::vector<std::string> pythonPath = {};
  const char* venv = "";  // "$DIR" as above
};

// Shown by name in test output (the default printer dumps the bytes).
void PrintTo(const SettingsCase& c, std::ostream* out) { *out << c.name; }

// Paths are joined with the separator given, "/" here.
const SettingsCase kCases[] = {
    {"NoFile", nullptr, std::nullopt, {}, {}},
    {"NoPrefix", "[QORV_PYTHON]\nscriptdir=a\nlogdir=l\npythonpath=p", std::nullopt, {}, {}},
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
     "scriptdir=s,t\npythonpath=x, y z,w",
     "/p/log", {"/p/m", "/p/m/a"}, {"/p/s", "/p/t"}, LogDetail::None, {"/p/x", "/p/y", "/p/w"}},
    // The log key needs no prefix.
    {"LogErrors", "[QORV_PYTHON]\nlog=errors", std::nullopt, {}, {}, LogDetail::Errors},
    {"LogRequests", "[QORV_PYTHON]\nprefix=/p\nlog=requests", std::nullopt, {}, {},
     LogDetail::Requests},
    {"LogNone", "[QORV_PYTHON]\nlog=none", std::nullopt, {}, {}, LogDetail::None},
    {"LogUnknown", "[QORV_PYTHON]\nlog=Errors", std::nullopt, {}, {}, LogDetail::None},
    // A relative venv is below the prefix, else below the current directory;
    // either way the result is absolute.
    {"VenvBelowPrefix", "[QORV_PYTHON]\nprefix=$DIR\nvenv=env", std::nullopt, {}, {},
     LogDetail::None, {}, "$DIR/env"},
    {"VenvBelowRelativePrefix", "[QORV_PYTHON]\nprefix=.\nvenv=env", std::nullopt, {}, {},
     LogDetail::None, {}, "$CWD/./env"},
    {"VenvWithoutPrefix", "[QORV_PYTHON]\nvenv=env", std::nullopt, {}, {}, LogDetail::None, {},
     "$CWD/env"},
    {"AbsoluteVenv", "[QORV_PYTHON]\nprefix=/elsewhere\nvenv=$DIR/env", std::nullopt, {}, {},
     LogDetail::None, {}, "$DIR/env"},
    {"EmptyVenv", "[QORV_PYTHON]\nprefix=/p\nvenv=", std::nullopt, {}, {}},
};

class LoadSettingsTest : public ::testing::TestWithParam<SettingsCase> {};

TEST_P(LoadSettingsTest, FillsTheDirectoryFields) {
  const SettingsCase& c = GetParam();
  ScopedEnv noChoice(kFileVariable, nullptr);
  TempDir dir;
  if (c.ini != nullptr) dir.Write("qorv_python.ini", Expand(c.ini, dir.path()));
  ScopedChdir inDir(dir.path());
  const PluginSettings settings = ReadPluginSettings("qorv_python.ini", "/");
  EXPECT_EQ(settings.fileRead, c.ini != nullptr);
  EXPECT_EQ(settings.log, c.log);
  EXPECT_EQ(settings.logDirectorySet, c.logDirectory.has_value());
  EXPECT_EQ(settings.logDirectory, c.logDirectory.value_or(""));
  EXPECT_THAT(settings.moduleDirectories, ElementsAreArray(c.modules));
  EXPECT_THAT(settings.scriptDirectories, ElementsAreArray(c.scripts));
  EXPECT_THAT(settings.pythonPath, ElementsAreArray(c.pythonPath));
  std::string venv = Expand(c.venv, dir.path());
  const std::size_t cwd = venv.find("$CWD");
  if (cwd != std::string::npos) venv.replace(cwd, 4, CurrentDirectory());
  EXPECT_EQ(settings.venv, venv);
  EXPECT_EQ(settings.timeoutSeconds, 0);
}

INSTANTIATE_TEST_SUITE_P(Settings, LoadSettingsTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

PluginSettings FromText(const std::string& text) {
  return ReadPluginSettingsText(text, "/srv/qorv_python.ini", "/");
}

TEST(Timeout, IsADecimalNumberOfSecondsOrNoLimit) {
  struct Case {
    const char* value;
    double seconds;
    bool accepted;
  } cases[] = {
      {"1", 1, true},
      {"0.5", 0.5, true},
      {"2.25", 2.25, true},
      {"007", 7, true},
      {"", 0, true},  // empty: no limit, said nowhere
      {"0", 0, true},
      {"0.0", 0, true},
      {"31536000", 31536000, true},  // a year, the longest taken
      {"31536000.5", 0, false},
      {"1e3", 0, false},
      {"-1", 0, false},
      {"+1", 0, false},
      {"1,5", 0, false},  // a decimal comma, as some locales write it
      {"1.2.3", 0, false},
      {".", 0, false},
      {"inf", 0, false},
      {"nan", 0, false},
      {"0x10", 0, false},
      {"5s", 0, false},
      {" 5", 0, false},
  };
  for (const Case& c : cases) {
    const PluginSettings settings = FromText(std::string("[QORV_PYTHON]\ntimeout=") + c.value);
    EXPECT_EQ(settings.timeoutSeconds, c.seconds) << "value: " << c.value;
    if (c.accepted) {
      EXPECT_THAT(settings.warnings, IsEmpty()) << "value: " << c.value;
      continue;
    }
    EXPECT_THAT(settings.warnings,
                ElementsAre("/srv/qorv_python.ini:2: unknown value '" + std::string(c.value) +
                            "' of the setting timeout (a number of seconds); there is no time "
                            "limit"))
        << "value: " << c.value;
  }
  // Digits past what a double holds are not a number of seconds either.
  EXPECT_EQ(FromText("[QORV_PYTHON]\ntimeout=1" + std::string(400, '0')).timeoutSeconds, 0);
  EXPECT_THAT(FromText("[QORV_PYTHON]\ntimeout=1" + std::string(400, '0')).warnings,
              ElementsAre(StartsWith("/srv/qorv_python.ini:2: unknown value '1000")));
}

struct WarningCase {
  const char* name;
  const char* ini;
  // Each warning after the file name; ":N: " starts those about line N.
  std::vector<std::string> warnings;
};

void PrintTo(const WarningCase& c, std::ostream* out) { *out << c.name; }

const WarningCase kWarningCases[] = {
    {"EverySettingWritten",
     "# comment\n[other]\nfoo=1\n[QORV_PYTHON]\nprefix=/srv\nscriptdir=a, b\nlogdir=l\n"
     "moduledir=m\nmodulesubdir=x\nlog=requests\ntimeout=1.5\nvenv=v\npythonpath=p\n"
     ";prefix=x ; a comment line\n  indented=ignored",
     {}},
    {"UnknownKey", "[QORV_PYTHON]\nprefix=/srv\nscriptdirs=a",
     {":3: 'scriptdirs' is not a setting and is ignored; the settings are prefix, scriptdir, "
      "logdir, moduledir, modulesubdir, log, timeout, venv, pythonpath"}},
    {"SpaceBeforeEquals", "[QORV_PYTHON]\nprefix =/srv\nscriptdir=a",
     {":2: 'prefix ' is not a setting: spaces around '=' count; write 'prefix=...'",
      ":3: 'scriptdir' is ignored without 'prefix'; add a line 'prefix=DIR' naming the directory "
      "its paths are below"}},
    {"KeyInOtherCase", "[QORV_PYTHON]\nLog=errors",
     {":2: 'Log' is not a setting: setting names are case-sensitive; write 'log=...'"}},
    {"KeyInOtherCaseWithSpace", "[QORV_PYTHON]\nTIMEOUT\t=1",
     {":2: 'TIMEOUT\\x09' is not a setting: spaces around '=' count and setting names are "
      "case-sensitive; write 'timeout=...'"}},
    // The warnings come in file order, not in the order the keys sort in.
    {"KeysWithoutPrefix", "[QORV_PYTHON]\nscriptdir=s\npythonpath=p\nlogdir=l\nvenv=v",
     {":2: 'scriptdir' is ignored without 'prefix'; add a line 'prefix=DIR' naming the directory "
      "its paths are below",
      ":3: 'pythonpath' is ignored without 'prefix'; add a line 'prefix=DIR' naming the directory "
      "its paths are below",
      ":4: 'logdir' is ignored without 'prefix'; add a line 'prefix=DIR' naming the directory "
      "its paths are below"}},
    {"HeaderInOtherCase", "[qorv_python]\nprefix=/srv\n[QORV_PYTHON]\nlog=errors",
     {":1: '[qorv_python]' is not the section [QORV_PYTHON] (section names are exact, letter case "
      "and spaces included), so its settings are ignored; write '[QORV_PYTHON]'"}},
    {"HeaderWithSpaces", "log=none\n[ QORV_PYTHON ]",
     {":2: '[ QORV_PYTHON ]' is not the section [QORV_PYTHON] (section names are exact, letter "
      "case and spaces included), so its settings are ignored; write '[QORV_PYTHON]'"}},
    {"ByteOrderMark", "\xEF\xBB\xBF[QORV_PYTHON]\nprefix=/srv\nscriptdir=s",
     {":1: the file starts with a UTF-8 byte order mark, which is read as part of the first line "
      "(a header there is not seen); save the file without one"}},
    // ';' is a comment only at the start of a line.
    {"SemicolonInValue", "[QORV_PYTHON]\nprefix=/srv\nlog=errors   ; what to log\nscriptdir=a;b",
     {":3: 'log=errors   ; what to log': ';' starts a comment only at the start of a line, so it "
      "is part of the value; put the comment after '#' or on a line of its own",
      ":3: unknown value 'errors   ; what to log' of the setting log (none, errors or requests); "
      "nothing is logged",
      ":4: 'scriptdir=a;b': ';' starts a comment only at the start of a line, so it is part of "
      "the value; put the comment after '#' or on a line of its own"}},
    {"PathStartingWithSpace", "[QORV_PYTHON]\nprefix= /srv\nvenv=\tenv",
     {":2: the value of 'prefix' starts with white space, which is part of the path; write "
      "'prefix=/srv'",
      ":3: the value of 'venv' starts with white space, which is part of the path; write "
      "'venv=env'"}},
    {"UnknownLogValue", "[QORV_PYTHON]\nlog=Errors",
     {":2: unknown value 'Errors' of the setting log (none, errors or requests); nothing is "
      "logged"}},
    // Only the assignment that counts is reported, at its line.
    {"RepeatedUnknownKey", "[QORV_PYTHON]\nextra=1\nextra=2",
     {":3: 'extra' is not a setting and is ignored; the settings are prefix, scriptdir, logdir, "
      "moduledir, modulesubdir, log, timeout, venv, pythonpath"}},
    // Control bytes are shown escaped, so that each warning stays one line.
    {"ControlBytesEscaped", "[QORV_PYTHON]\nlog=a\rb\x01",
     {":2: unknown value 'a\\x0Db\\x01' of the setting log (none, errors or requests); nothing is "
      "logged"}},
};

class SettingsWarnings : public ::testing::TestWithParam<WarningCase> {};

TEST_P(SettingsWarnings, SayWhatLooksWrongWithoutChangingWhatIsRead) {
  const WarningCase& c = GetParam();
  const PluginSettings settings = FromText(c.ini);
  std::vector<std::string> expected;
  for (const std::string& warning : c.warnings) expected.push_back("/srv/qorv_python.ini" + warning);
  EXPECT_THAT(settings.warnings, ElementsAreArray(expected));
}

INSTANTIATE_TEST_SUITE_P(Settings, SettingsWarnings, ::testing::ValuesIn(kWarningCases),
                         [](const auto& info) { return std::string(info.param.name); });

const std::string kFixtures = QORV_FIXTURES "/settings/";

TEST(SettingsWarnings, ByteOrderMarkFromAWindowsEditor) {
  const std::string path = kFixtures + "bom.ini";
  const PluginSettings settings = ReadPluginSettings(path, "/");
  EXPECT_TRUE(settings.fileRead);
  EXPECT_EQ(settings.file, path);
  ASSERT_EQ(settings.warnings.size(), 1u);
  EXPECT_THAT(settings.warnings[0], StartsWith(path + ":1: the file starts with a UTF-8 byte"));
}

TEST(SettingsFileChoice, EnvironmentNamesTheFileElseTheCurrentDirectoryHoldsIt) {
  TempDir dir;
  ScopedChdir inDir(dir.path());
  const std::string here = CurrentDirectory() + kPathSeparator;
  const std::string fixture = QORV_FIXTURES "/settings/first.ini";
  struct Case {
    const char* variable;  // null: unset
    std::string expected;
  } cases[] = {
      {nullptr, here + "qorv_python.ini"},
      {"", here + "qorv_python.ini"},
      {"sub/my.ini", here + "sub/my.ini"},
      {"../x.ini", here + "../x.ini"},  // made absolute, not resolved
      {fixture.c_str(), fixture},
  };
  for (const Case& c : cases) {
    ScopedEnv variable(kFileVariable, c.variable);
    EXPECT_EQ(SettingsFilePath(), c.expected) << "variable: " << (c.variable ? c.variable : "unset");
  }
}

TEST(SettingsFileChoice, ChosenFileIsReadInsteadOfTheDefault) {
  TempDir dir;
  dir.Write("qorv_python.ini", "[QORV_PYTHON]\nlog=requests");
  dir.Write("chosen/settings.ini", "[QORV_PYTHON]\nlog=errors");
  ScopedChdir inDir(dir.path());
  ScopedEnv variable(kFileVariable, "chosen/settings.ini");
  const PluginSettings settings = ReadPluginSettings(SettingsFilePath(), "/");
  EXPECT_TRUE(settings.fileRead);
  EXPECT_EQ(settings.file, SettingsFilePath());
  EXPECT_EQ(settings.log, LogDetail::Errors);
  EXPECT_THAT(settings.warnings, IsEmpty());
}

TEST(SettingsFileChoice, ChosenFileThatCannotBeReadIsReported) {
  TempDir dir;
  std::filesystem::create_directory(dir.File("directory.ini"));
  struct Case {
    std::string file;
    bool chosen;  // named by the variable rather than the default
    bool reported;
  } cases[] = {
      {dir.File("missing.ini"), true, true},
      {dir.File("directory.ini"), true, true},
      {dir.File("no-directory/qorv_python.ini"), true, true},
      {dir.File("missing.ini"), false, false},  // the default file is optional
      {dir.File("directory.ini"), false, true},  // but one that is there must be readable
  };
  for (const Case& c : cases) {
    ScopedEnv variable(kFileVariable, c.chosen ? c.file.c_str() : nullptr);
    const PluginSettings settings = ReadPluginSettings(c.file, "/");
    EXPECT_FALSE(settings.fileRead) << c.file;
    EXPECT_EQ(settings.file, c.file);
    EXPECT_THAT(settings.scriptDirectories, IsEmpty());
    if (!c.reported) {
      EXPECT_THAT(settings.warnings, IsEmpty()) << c.file;
      continue;
    }
    EXPECT_THAT(settings.warnings,
                ElementsAre(StartsWith("cannot read the settings file '" + c.file + "': ")))
        << c.file;
  }
  ScopedEnv variable(kFileVariable, dir.File("missing.ini").c_str());
  EXPECT_THAT(ReadPluginSettings(dir.File("missing.ini"), "/").warnings,
              ElementsAre("cannot read the settings file '" + dir.File("missing.ini") + "': " +
                          std::strerror(ENOENT) + "; no settings are used"));
}

// The README's example is meant to be copied: it must read without a warning.
TEST(SettingsWarnings, ReadmeExampleReadsCleanly) {
  const std::string readme = ReadFile(QORV_FIXTURES "/../../README.md");
  const std::size_t section = readme.find("## The settings file");
  ASSERT_NE(section, std::string::npos);
  const std::size_t start = readme.find("```ini\n", section);
  ASSERT_NE(start, std::string::npos);
  const std::size_t end = readme.find("```", start + 7);
  ASSERT_NE(end, std::string::npos);
  const PluginSettings settings = FromText(readme.substr(start + 7, end - start - 7));
  EXPECT_THAT(settings.warnings, IsEmpty());
  EXPECT_THAT(settings.scriptDirectories, ElementsAre("/srv/qorv/scripts", "/srv/qorv/tools"));
  EXPECT_EQ(settings.log, LogDetail::Errors);
  EXPECT_EQ(settings.timeoutSeconds, 30);
  EXPECT_THAT(settings.pythonPath, ElementsAre("/srv/qorv/lib", "/srv/qorv/vendor"));
}

}  // namespace
