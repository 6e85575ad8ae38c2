#include "requests/request_args.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

void RequestArgs::Reset(std::size_t textLength) {
  module = name = objectId = method = nullptr;
  params = nullptr;
  paramCount = 0;
  textsUsed_ = 0;
  if (textLength + 1 > textsCapacity_) {
    texts_.reset(new char[textLength + 1]);
    textsCapacity_ = textLength + 1;
  }
  paramPointers_.clear();
}

void RequestArgs::Shrink() {
  if (textsCapacity_ > 65536) {
    texts_.reset();
    textsCapacity_ = 0;
  }
  if (paramPointers_.capacity() > 4096) std::vector<char*>().swap(paramPointers_);
}

char* RequestArgs::RoomForText(std::size_t length) {
  // Reset made room for every text of the parse, so the storage never moves
  // and the texts stored earlier stay where they are.
  if (length + 1 > textsCapacity_ - textsUsed_) throw std::length_error("request text storage");
  char* room = texts_.get() + textsUsed_;
  textsUsed_ += length + 1;
  return room;
}

void RequestArgs::AppendParam(char* param) {
  paramPointers_.push_back(param);
  params = paramPointers_.data();
  paramCount = static_cast<std::int32_t>(paramPointers_.size());
}

namespace {

enum class ParserState { BetweenTokens, Unquoted, Quoted, QuotedEscape, QuoteClosed };
enum class CharClass { EndOfText, Space, Apostrophe, Backslash, Other };

CharClass Classify(unsigned char c) {
  switch (c) {
    case '\0': return CharClass::EndOfText;
    case ' ': return CharClass::Space;
    case '\'': return CharClass::Apostrophe;
    case '\\': return CharClass::Backslash;
    default: return CharClass::Other;
  }
}

// The index of the first of `a`, `b` or the terminating NUL at or after i.
std::size_t SkipUntil(const char* text, std::size_t i, char a, char b) {
  while (text[i] != '\0' && text[i] != a && text[i] != b) ++i;
  return i;
}

// Writes `text` with every `find` replaced into `out` (which has room for
// the result); returns the result's length.
std::size_t CopyReplacing(std::string_view text, std::string_view find,
                          std::string_view replacement, char* out) {
  if (std::memchr(text.data(), find[0], text.size()) == nullptr) {
    std::memcpy(out, text.data(), text.size());  // the usual case: nothing to replace
    return text.size();
  }
  char* const start = out;
  std::size_t from = 0;
  for (std::size_t at = text.find(find); at != std::string_view::npos;
       at = text.find(find, from)) {
    std::memcpy(out, text.data() + from, at - from);
    out += at - from;
    std::memcpy(out, replacement.data(), replacement.size());
    out += replacement.size();
    from = at + find.size();
  }
  std::memcpy(out, text.data() + from, text.size() - from);
  return static_cast<std::size_t>(out - start) + (text.size() - from);
}

// Writes the token's bytes after the tag, less every "=" and space, into
// `out`; returns their number.
std::size_t CopyTagValue(const char* token, std::size_t length, std::size_t tagLength, char* out) {
  std::size_t n = 0;
  for (std::size_t i = tagLength; i < length; ++i) {
    if (token[i] != '=' && token[i] != ' ') out[n++] = token[i];
  }
  return n;
}

char* MallocText(std::size_t length) {
  char* text = static_cast<char*>(std::malloc(length + 1));
  if (text == nullptr) throw std::bad_alloc();
  return text;
}

constexpr std::size_t kTagLength = 5;

// Stores the tag value in the record; a repeated tag replaces the earlier value.
void SetTag(RequestArgs* args, char** field, const char* token, std::size_t length) {
  char* value = args->RoomForText(length);  // the value is never longer than the token
  value[CopyTagValue(token, length, kTagLength, value)] = '\0';
  *field = value;
}

}  // namespace

bool ParseParameters(const char* text, RequestArgs* args) {
  args->Reset(std::strlen(text));
  ParserState state = ParserState::BetweenTokens;
  std::size_t tokenStart = 0;
  // The quoted token lies between the opening apostrophe and the character
  // before i; the unquoted one runs from tokenStart to i.
  auto emitUnquoted = [&](std::size_t i) { AddToken(args, text + tokenStart, i - tokenStart); };
  auto emitQuoted = [&](std::size_t i) { AddToken(args, text + tokenStart + 1, i - tokenStart - 2); };
  auto fail = [&] {
    args->Reset(0);
    return false;
  };

  for (std::size_t i = 0;; ++i) {
    // A run of bytes on which the state stays is crossed in one step: in
    // Unquoted everything but a space or the end, in Quoted everything but an
    // apostrophe, a backslash or the end.
    if (state == ParserState::Unquoted) i = SkipUntil(text, i, ' ', ' ');
    if (state == ParserState::Quoted) i = SkipUntil(text, i, '\'', '\\');
    const CharClass c = Classify(static_cast<unsigned char>(text[i]));
    switch (state) {
      case ParserState::BetweenTokens:
        switch (c) {
          case CharClass::EndOfText: return true;
          case CharClass::Space: break;
          case CharClass::Apostrophe: tokenStart = i; state = ParserState::Quoted; break;
          case CharClass::Backslash: tokenStart = i; state = ParserState::Unquoted; break;
          case CharClass::Other: tokenStart = i; state = ParserState::Unquoted; break;
        }
        break;
      case ParserState::Unquoted:
        switch (c) {
          case CharClass::EndOfText: emitUnquoted(i); return true;
          case CharClass::Space: emitUnquoted(i); state = ParserState::BetweenTokens; break;
          case CharClass::Apostrophe: break;
          case CharClass::Backslash: break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::Quoted:
        switch (c) {
          case CharClass::EndOfText: return fail();
          case CharClass::Space: break;
          case CharClass::Apostrophe: state = ParserState::QuoteClosed; break;
          case CharClass::Backslash: state = ParserState::QuotedEscape; break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::QuotedEscape:
        switch (c) {
          case CharClass::EndOfText: return fail();
          case CharClass::Space: break;  // the escape waits for a non-space
          case CharClass::Apostrophe: state = ParserState::Quoted; break;
          case CharClass::Backslash: state = ParserState::Quoted; break;
          case CharClass::Other: state = ParserState::Quoted; break;
        }
        break;
      case ParserState::QuoteClosed:
        switch (c) {
          case CharClass::EndOfText: emitQuoted(i); return true;
          case CharClass::Space: emitQuoted(i); state = ParserState::BetweenTokens; break;
          case CharClass::Apostrophe: break;  // taken into the token
          case CharClass::Backslash: break;   // taken into the token
          case CharClass::Other: return fail();
        }
        break;
    }
  }
}

std::unique_ptr<RequestArgs> ParseParameters(const char* text) {
  auto args = std::make_unique<RequestArgs>();
  if (!ParseParameters(text, args.get())) return nullptr;
  return args;
}

void AddToken(RequestArgs* args, const char* token, std::size_t length) {
  const auto startsWith = [&](const char* tag) {
    return length >= kTagLength && std::memcmp(token, tag, kTagLength) == 0;
  };
  if (startsWith("PYMOD")) return SetTag(args, &args->module, token, length);
  if (startsWith("PYOBJ")) return SetTag(args, &args->name, token, length);
  if (startsWith("SETID")) return SetTag(args, &args->objectId, token, length);
  if (startsWith("PYOMD")) return SetTag(args, &args->method, token, length);
  char* param = args->RoomForText(length);  // the replacement only shortens it
  param[CopyReplacing(std::string_view(token, length), "\\'", "'", param)] = '\0';
  args->AppendParam(param);
}

char* TagValue(const char* token, std::size_t length, const char* tag) {
  char* value = MallocText(length);
  value[CopyTagValue(token, length, std::strlen(tag), value)] = '\0';
  return value;
}

char* ReplaceAll(const char* text, const char* find, const char* replacement) {
  const std::string_view whole(text), pattern(find), with(replacement);
  if (pattern.empty()) return strdup(text);
  std::size_t count = 0;
  for (std::size_t at = whole.find(pattern); at != std::string_view::npos;
       at = whole.find(pattern, at + pattern.size())) {
    ++count;
  }
  char* result = MallocText(whole.size() + count * with.size() - count * pattern.size());
  result[CopyReplacing(whole, pattern, with, result)] = '\0';
  return result;
}
