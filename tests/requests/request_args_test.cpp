#include "requests/request_args.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

namespace {

// "M<module> N<name> I<objectId> D<method>" for the fields that are set,
// then "<param>" for each positional parameter; "malformed" for no record.
std::string Parse(const std::string& text) {
  std::unique_ptr<RequestArgs> args = ParseParameters(text.c_str());
  if (!args) return "malformed";
  std::string out;
  auto field = [&](const char* label, const char* value) {
    if (value == nullptr) return;
    if (!out.empty()) out += " ";
    out += std::string(label) + "<" + value + ">";
  };
  field("M", args->module);
  field("N", args->name);
  field("I", args->objectId);
  field("D", args->method);
  for (std::int32_t i = 0; i < args->paramCount; ++i) field("", args->params[i]);
  return out;
}

struct ParseCase {
  const char* text;
  const char* expected;
};

const ParseCase kParseCases[] = {
    {"", ""},
    {"   ", ""},
    {"PYMOD=math PYOBJ=sqrt 16", "M<math> N<sqrt> <16>"},
    {"SETID=x PYOMD=m PYOBJ=o_1 p", "N<o_1> I<x> D<m> <p>"},
    {"  x   y  ", "<x> <y>"},
    // Tag values lose every "=" and space, quoted or not.
    {"'PYMOD=my module'", "M<mymodule>"},
    {"PYMOD= a = b", "M<> <a> <=> <b>"},
    // A token that merely starts with a tag word is that tag.
    {"PYMODULE=x", "M<ULEx>"},
    {"PYMOD a", "M<> <a>"},
    {"PYOBJ=a PYOBJ=b", "N<b>"},
    {"'a b' x", "<a b> <x>"},
    {"''", "<>"},
    // Escapes: backslash-apostrophe becomes an apostrophe in positional
    // parameters only; other backslashes stay.
    {R"('it\'s')", "<it's>"},
    {R"(it\'s)", "<it's>"},
    {R"('a\\b')", R"(<a\\b>)"},
    {R"('a\\\'b')", R"(<a\\'b>)"},
    {R"(PYOBJ=a\'b)", R"(N<a\'b>)"},
    // The escape waits through spaces for the next character.
    {R"('a\ 'b')", R"(<a\ 'b>)"},
    // After a closing apostrophe: space or end, or an apostrophe/backslash
    // that is taken into the token (less the last character); anything else
    // is malformed.
    {"'abc'd", "malformed"},
    {"'abc''", "<abc'>"},
    {R"('abc'\)", "<abc'>"},
    {"'a'' b", "<a'> <b>"},
    {"'a''b'", "malformed"},
    {"x y 'z'w", "malformed"},
    // Texts ending inside quotes.
    {"'abc", "malformed"},
    {R"('abc\)", "malformed"},
    {R"('abc\ )", "malformed"},
    // Only 0x20 separates; apostrophes inside unquoted tokens are ordinary.
    {"a\tb", "<a\tb>"},
    {"don't stop", "<don't> <stop>"},
    {"\xE9t\xE9 PYMOD=\xFF", "M<\xFF> <\xE9t\xE9>"},
};

class ParseParametersTest : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseParametersTest, GivesTheRecord) {
  EXPECT_EQ(Parse(GetParam().text), GetParam().expected) << "text: " << GetParam().text;
}

INSTANTIATE_TEST_SUITE_P(Texts, ParseParametersTest, ::testing::ValuesIn(kParseCases));

TEST(ParseParameters, KeepsManyParametersInOrder) {
  std::string text;
  const int count = 100001;  // crosses many growth steps of the array
  for (int i = 0; i < count; ++i) text += std::to_string(i) + " ";
  std::unique_ptr<RequestArgs> args = ParseParameters(text.c_str());
  ASSERT_TRUE(args);
  ASSERT_EQ(args->paramCount, count);
  for (int i = 0; i < count; i += 997) EXPECT_EQ(args->params[i], std::to_string(i));
  EXPECT_EQ(args->params[count - 1], std::to_string(count - 1));
}

TEST(ReplaceAll, ReplacesLeftToRightWithoutRescanning) {
  struct Case {
    const char* text;
    const char* find;
    const char* replacement;
    const char* expected;
  } cases[] = {
      {"aaa", "aa", "b", "ba"},
      {"a.b.c", ".", "--", "a--b--c"},
      {"ab", "a", "aa", "aab"},
      {"x", R"(\')", "'", "x"},
      {"", "a", "b", ""},
  };
  for (const Case& c : cases) {
    char* result = ReplaceAll(c.text, c.find, c.replacement);
    EXPECT_STREQ(result, c.expected);
    std::free(result);
  }
}

}  // namespace
