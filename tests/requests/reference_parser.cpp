#include "requests/reference_parser.h"

namespace {

enum class State { BetweenTokens, Unquoted, Quoted, QuotedEscape, QuoteClosed };

constexpr const char* kNotClosed = "the quote that opens here is not closed";
constexpr const char* kAfterQuote = "only a space may follow a closing quote";

std::string ReplaceEscapedQuotes(const std::string& token) {
  std::string out;
  for (std::size_t i = 0; i < token.size(); ++i) {
    if (token[i] == '\\' && i + 1 < token.size() && token[i + 1] == '\'') {
      out += '\'';
      ++i;
      continue;
    }
    out += token[i];
  }
  return out;
}

void AddToken(ReferenceRecord* record, const std::string& token) {
  static const char* const kTags[] = {"PYMOD", "PYOBJ", "SETID", "PYOMD"};
  std::optional<std::string>* fields[] = {&record->module, &record->name, &record->objectId, &record->method};
  for (int tag = 0; tag < 4; ++tag) {
    if (token.compare(0, 5, kTags[tag]) != 0 || token.size() < 5) continue;
    std::string value;
    for (std::size_t i = 5; i < token.size(); ++i) {
      if (token[i] != '=' && token[i] != ' ') value += token[i];
    }
    *fields[tag] = value;
    return;
  }
  record->params.push_back(ReplaceEscapedQuotes(token));
}

}  // namespace

ReferenceRecord ReferenceParse(const std::string& text) {
  ReferenceRecord record;
  State state = State::BetweenTokens;
  std::size_t start = 0;
  const auto fail = [&](std::size_t at, const char* what) {
    ReferenceRecord failed;
    failed.errorPosition = at;
    failed.errorWhat = what;
    return failed;
  };
  for (std::size_t i = 0;; ++i) {
    const char c = i < text.size() ? text[i] : '\0';
    switch (state) {
      case State::BetweenTokens:
        if (c == '\0') {
          record.parsed = true;
          return record;
        }
        if (c == ' ') break;
        start = i;
        state = c == '\'' ? State::Quoted : State::Unquoted;
        break;
      case State::Unquoted:
        if (c == '\0' || c == ' ') {
          AddToken(&record, text.substr(start, i - start));
          if (c == '\0') {
            record.parsed = true;
            return record;
          }
          state = State::BetweenTokens;
        }
        break;
      case State::Quoted:
        if (c == '\0') return fail(start, kNotClosed);
        if (c == '\'') state = State::QuoteClosed;
        if (c == '\\') state = State::QuotedEscape;
        break;
      case State::QuotedEscape:
        if (c == '\0') return fail(start, kNotClosed);
        if (c != ' ') state = State::Quoted;
        break;
      case State::QuoteClosed:
        if (c == '\0' || c == ' ') {
          AddToken(&record, text.substr(start + 1, i - start - 2));
          if (c == '\0') {
            record.parsed = true;
            return record;
          }
          state = State::BetweenTokens;
          break;
        }
        if (c != '\'' && c != '\\') return fail(i, kAfterQuote);
        break;
    }
  }
}
