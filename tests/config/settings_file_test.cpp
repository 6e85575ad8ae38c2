#include "config/settings_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <string>

#include "support/temp_dir.h"

namespace {

// "[section]<key>=<value>..." per section, sections one a line, in map order.
std::string Dump(const SettingsFile& settings) {
  std::string out;
  for (const auto& [name, keys] : settings.AllSections()) {
    if (!out.empty()) out += "\n";
    out += "[" + name + "]";
    for (const auto& [key, value] : keys) out += "<" + key + ">=<" + value + ">";
  }
  return out;
}

std::string Read(const std::string& text) {
  SettingsFile settings;
  settings.LoadText(text);
  return Dump(settings);
}

struct GrammarCase {
  const char* text;
  const char* expected;
};

const GrammarCase kGrammarCases[] = {
    {"", ""},
    // Nothing is trimmed around "=".
    {"a = b", "[]<a >=< b>"},
    {"k=a=b", "[]<k>=<a=b>"},
    // The comment cut knows nothing of values.
    {"path=scripts#2", "[]<path>=<scripts>"},
    {"# whole line\nk=v # trailing", "[]<k>=<v>"},
    // Indented lines are never read; ';' is a comment only at line start.
    {"  key=value\n\tkey=value", ""},
    {";key=value\nkey=val;ue", "[]<key>=<val;ue>"},
    // Headers run to the last "]"; what follows it is ignored.
    {"[a]b=1", "[a]"},
    {"[a]x]\n[ s ]\n[]", "[]\n[ s ]\n[a]x]"},
    // No "]": ignored, and the current section stays.
    {"[s]\n[abc\nk=v", "[s]<k>=<v>"},
    {"[a#b]\nk=v", "[]<k>=<v>"},
    // A repeated header empties its section.
    {"[s]\nk=1\n[t]\n[s]\nj=2", "[s]<j>=<2>\n[t]"},
    {"k=\n=v", "[]<>=<v><k>=<>"},
    {"k=1\nk=2", "[]<k>=<2>"},
    {"k=v   \nj=   ", "[]<j>=<><k>=<v>"},
    {"k=v\r\nj=w\r\n", "[]<j>=<w><k>=<v>"},
    {"noequals\n\n[", ""},
    // A byte-order mark makes the header line a line without "=".
    {"\xEF\xBB\xBF[s]\nk=v", "[]<k>=<v>"},
    // Bytes 0x80-0xFF are never white space.
    {"k=v\x85\nj=w\xA0", "[]<j>=<w\xA0><k>=<v\x85>"},
    // Keys before any header, after a header, and a header's own name kept as is.
    {"top=1\n[Sec]\nKey=2\nkey=3", "[]<top>=<1>\n[Sec]<Key>=<2><key>=<3>"},
};

class SettingsGrammar : public ::testing::TestWithParam<GrammarCase> {};

TEST_P(SettingsGrammar, ReadsTheLinesAsTheGrammarSays) {
  EXPECT_EQ(Read(GetParam().text), GetParam().expected) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Lines, SettingsGrammar, ::testing::ValuesIn(kGrammarCases));

const std::string kFixtures = QORV_FIXTURES "/settings/";

TEST(SettingsFile, ByteOrderMarkFileLandsKeysInTheEmptySection) {
  SettingsFile settings;
  EXPECT_EQ(settings.Load((kFixtures + "bom.ini").c_str()), 0);
  EXPECT_EQ(Dump(settings), "[]<prefix>=</srv>");
  EXPECT_FALSE(settings.HasKey("QORV_PYTHON", nullptr));
  EXPECT_TRUE(settings.StartsWithByteOrderMark());
  settings.LoadText("k=v\xEF\xBB\xBF");  // only at the very start does it count
  EXPECT_FALSE(settings.StartsWithByteOrderMark());
}

TEST(SettingsFile, CrLfFileReadsLikeLf) {
  SettingsFile settings;
  settings.Load((kFixtures + "crlf.ini").c_str());
  EXPECT_EQ(Dump(settings), "[s]<j>=<w><k>=<v>");
  EXPECT_EQ(settings.KeyLine("s", "j"), 4u);
}

TEST(SettingsFile, SecondLoadMergesAndMissingFileChangesNothing) {
  SettingsFile settings;
  settings.Load((kFixtures + "first.ini").c_str());
  settings.Load((kFixtures + "second.ini").c_str());
  // second.ini's "[s]" header empties what first.ini put there.
  EXPECT_EQ(Dump(settings), "[s]<k>=<2>\n[t]<x>=<y>");
  EXPECT_EQ(settings.Load((kFixtures + "no-such-file.ini").c_str()), ENOENT);
  EXPECT_EQ(Dump(settings), "[s]<k>=<2>\n[t]<x>=<y>");
}

TEST(SettingsFile, DirectoryCannotBeLoaded) {
  TempDir dir;
  SettingsFile settings;
  EXPECT_NE(settings.Load(dir.path().c_str()), 0);
  EXPECT_EQ(Dump(settings), "");
}

// Lines count from 1, blank and comment lines included; the line kept is the
// one whose value is held.
TEST(SettingsFile, LinesPointAtTheAssignmentThatCounts) {
  SettingsFile settings;
  settings.LoadText("top=1\n[s]\na=1\n\n# note\na=2\n[t]\n[s]\nb=3\nb=4\n[t]x\n");
  EXPECT_EQ(settings.KeyLine("", "top"), 1u);
  EXPECT_EQ(settings.KeyLine("s", "a"), 0u);  // emptied by the repeated header
  EXPECT_EQ(settings.KeyLine("s", "b"), 10u);
  EXPECT_EQ(settings.KeyLine("s", "missing"), 0u);
  EXPECT_EQ(settings.KeyLine("missing", "b"), 0u);
  EXPECT_EQ(settings.HeaderLine("s"), 8u);
  EXPECT_EQ(settings.HeaderLine("t"), 11u);
  EXPECT_EQ(settings.HeaderLine(""), 0u);
  EXPECT_FALSE(settings.StartsWithByteOrderMark());
}

TEST(SettingsFile, HasKeyAnswersWithoutCreatingEntries) {
  SettingsFile settings;
  settings.LoadText("[s]\nk=\n");
  EXPECT_FALSE(settings.HasKey(nullptr, "k"));
  EXPECT_FALSE(settings.HasKey("missing", nullptr));
  EXPECT_FALSE(settings.HasKey("missing", "k"));
  EXPECT_TRUE(settings.HasKey("s", nullptr));
  EXPECT_TRUE(settings.HasKey("s", "k"));  // an empty value is present
  EXPECT_FALSE(settings.HasKey("s", "K"));
  EXPECT_FALSE(settings.HasKey("S", "k"));
  EXPECT_EQ(Dump(settings), "[s]<k>=<>");
}

TEST(SettingsFile, MissingFileGivesAnEmptyTable) {
  SettingsFile settings;
  settings.Load("/nonexistent/qorv_python.ini");
  EXPECT_FALSE(settings.HasKey("", nullptr));
  EXPECT_EQ(Dump(settings), "");
}

TEST(SettingsFile, VeryLongLineIsReadWhole) {
  TempDir dir;
  const std::string value(10 * 1024 * 1024, 'v');
  const std::string path = dir.Write("long.ini", "[s]\nk=" + value + "\nj=1");
  SettingsFile settings;
  settings.Load(path.c_str());
  EXPECT_EQ(settings.Section("s")["k"], value);
  EXPECT_EQ(settings.Section("s")["j"], "1");
}

}  // namespace
