// The fast parser against the reference state machine over random texts:
// the same record, the same error position and reason, byte for byte, also
// when one record parses text after text that share their leading tags.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "requests/reference_parser.h"
#include "requests/request_args.h"

namespace {

ReferenceRecord FastParse(const std::string& text, RequestArgs* args) {
  ReferenceRecord record;
  ParseError error;
  record.parsed = ParseParameters(text.c_str(), args, &error);
  if (!record.parsed) {
    record.errorPosition = error.position;
    record.errorWhat = error.what;
    return record;
  }
  const auto field = [](const char* value) {
    return value != nullptr ? std::optional<std::string>(value) : std::nullopt;
  };
  // Each field's length, which the lookups use, is that of its text.
  const auto length = [](const char* value) { return value != nullptr ? std::strlen(value) : 0; };
  EXPECT_EQ(args->moduleLength, length(args->module)) << text;
  EXPECT_EQ(args->nameLength, length(args->name)) << text;
  EXPECT_EQ(args->objectIdLength, length(args->objectId)) << text;
  EXPECT_EQ(args->methodLength, length(args->method)) << text;
  record.module = field(args->module);
  record.name = field(args->name);
  record.objectId = field(args->objectId);
  record.method = field(args->method);
  for (std::int32_t i = 0; i < args->paramCount; ++i) record.params.emplace_back(args->params[i]);
  return record;
}

// Texts made of the pieces that matter to the grammar.
class TextMaker {
 public:
  explicit TextMaker(unsigned seed) : random_(seed) {}

  std::string Piece() {
    static const char* const kPieces[] = {
        " ", " ", "  ", "'", "'", "\\", "\\'", "=", "PYMOD", "PYOBJ", "SETID", "PYOMD", "PYMOD=",
        "PYOBJ=", "PYMODULE", "PYMO", "a", "bc", "42", "\x80", "\xff", "\t", "''", "'a b'", "x=y",
        // Long enough for a token to run past the bytes copied as they are scanned.
        "0123456789abcdefghijklmnopq"};
    return kPieces[Pick(sizeof kPieces / sizeof *kPieces)];
  }
  std::string Text() {
    std::string text;
    for (std::size_t n = Pick(12); n > 0; --n) text += Piece();
    return text;
  }
  // A text that begins with some of an earlier one: its leading tags, often.
  std::string Following(const std::string& earlier) {
    return earlier.substr(0, Pick(earlier.size() + 1)) + Text();
  }
  std::size_t Pick(std::size_t count) { return std::uniform_int_distribution<std::size_t>(0, count - 1)(random_); }

 private:
  std::mt19937 random_;
};

TEST(ParserDifferential, AgreesWithTheReferenceOnRandomTexts) {
  TextMaker maker(12345);
  RequestArgs reused;
  for (int i = 0; i < 200000; ++i) {
    const std::string text = maker.Text();
    RequestArgs fresh;
    const ReferenceRecord expected = ReferenceParse(text);
    ASSERT_EQ(FastParse(text, &fresh), expected) << '"' << text << '"';
    ASSERT_EQ(FastParse(text, &reused), expected) << '"' << text << '"';
  }
}

// The typical stream: the same leading tags, then arguments that change; now
// and then another text, a longer one, or one that fails.
TEST(ParserDifferential, AgreesWhenTextsShareTheirLeadingTags) {
  TextMaker maker(678);
  // Some leads are whole texts of tags, which a following text may carry on.
  const std::vector<std::string> leads = {"PYMOD=tools PYOBJ=echo ", "PYMOD=a PYOBJ=b SETID=c ",
                                          "  PYOBJ=x  PYOMD=m ", "PYMOD=tools ", "PYMODULE=x ",
                                          "PYMOD=a PYOBJ=b SETID=c", "PYOBJ=box PYOMD=size"};
  RequestArgs reused;
  std::string previous;
  for (int i = 0; i < 200000; ++i) {
    std::string text;
    switch (maker.Pick(5)) {
      case 0: text = leads[maker.Pick(leads.size())] + maker.Text(); break;
      case 1: text = maker.Following(previous); break;
      case 2: text = previous + maker.Piece(); break;
      case 3: text = leads[maker.Pick(leads.size())]; break;
      default: text = leads[maker.Pick(leads.size())] + std::to_string(i); break;
    }
    ASSERT_EQ(FastParse(text, &reused), ReferenceParse(text)) << '"' << text << "\" after \"" << previous << '"';
    previous = text;
  }
}

}  // namespace
