#include "requests/request_args.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string_view>

#include "requests/hot_path.h"
#include "requests/same_bytes.h"

QORV_HOT_PATH(14)
void RequestArgs::Reset(std::size_t textLength) {
  module = name = objectId = method = nullptr;
  moduleLength = nameLength = objectIdLength = methodLength = 0;
  params = nullptr;
  paramCount = 0;
  textsUsed_ = 0;
  leadingText_.clear();
  leading_ = marked_ = Leading();
  if (textLength + 1 > textsCapacity_) {
    texts_.reset(new char[textLength + 1]);
    textsCapacity_ = textLength + 1;
  }
  paramPointers_.clear();
}

QORV_HOT_PATH(12)
std::size_t RequestArgs::Resume(const char* text, std::size_t textLength) {
  const std::size_t end = leading_.end;
  // The texts of the rest fit behind those of the leading tags, as they would
  // in a fresh parse: the storage holds at least textLength + 1 bytes. Tags
  // that ended their text stand only where this text's token ends there too.
  if (end == 0 || textLength < end || textLength + 1 > textsCapacity_ ||
      !SameBytes(text, leadingText_.data(), end) ||
      (leadingText_[end - 1] != ' ' && text[end] != ' ' && text[end] != '\0')) {
    Reset(textLength);
    return 0;
  }
  module = leading_.fields[0];
  name = leading_.fields[1];
  objectId = leading_.fields[2];
  method = leading_.fields[3];
  moduleLength = leading_.lengths[0];
  nameLength = leading_.lengths[1];
  objectIdLength = leading_.lengths[2];
  methodLength = leading_.lengths[3];
  params = nullptr;
  paramCount = 0;
  paramPointers_.clear();
  textsUsed_ = leading_.textsUsed;
  // Nothing marked yet beyond the leading tags (a mark sets every field).
  marked_.end = end;
  return end;
}

QORV_HOT_PATH(15)
void RequestArgs::MarkLeadingTags(std::size_t end) {
  marked_.end = end;
  marked_.textsUsed = textsUsed_;
  marked_.fields[0] = module;
  marked_.fields[1] = name;
  marked_.fields[2] = objectId;
  marked_.fields[3] = method;
  marked_.lengths[0] = moduleLength;
  marked_.lengths[1] = nameLength;
  marked_.lengths[2] = objectIdLength;
  marked_.lengths[3] = methodLength;
}

QORV_HOT_PATH(16)
void RequestArgs::RememberLeadingTags(const char* text) {
  if (marked_.end == leading_.end) return;  // the same leading tags as before
  leadingText_.assign(text, marked_.end);
  leading_ = marked_;
}

void RequestArgs::GiveBackStorage() {
  if (textsCapacity_ > kLargeTexts) {
    texts_.reset();
    textsCapacity_ = 0;
    leadingText_.clear();
    leading_ = marked_ = Leading();
  }
  if (paramPointers_.capacity() > kManyParams) std::vector<char*>().swap(paramPointers_);
}

void RequestArgs::NoRoomForText() { throw std::length_error("request text storage"); }

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

// The index of the first space at or after i, or `end` (the terminating NUL).
std::size_t FindSpace(const char* text, std::size_t i, std::size_t end) {
  const void* space = std::memchr(text + i, ' ', end - i);
  return space != nullptr ? static_cast<std::size_t>(static_cast<const char*>(space) - text) : end;
}

// The index of the first apostrophe, backslash or terminating NUL at or after i.
std::size_t SkipQuoted(const char* text, std::size_t i) {
  while (text[i] != '\0' && text[i] != '\'' && text[i] != '\\') ++i;
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

// Tokens up to this long are copied byte by byte; a longer one is searched
// for its end and its backslash-apostrophe pairs with the library's routines.
constexpr std::size_t kShortToken = 32;

// A positional token into `out` with each backslash-apostrophe turned into an
// apostrophe; returns the length written. A short token, the usual kind, is
// copied byte by byte in the same pass that looks for the pair.
std::size_t CopyParam(const char* token, std::size_t length, char* out) {
  if (length > kShortToken) return CopyReplacing(std::string_view(token, length), "\\'", "'", out);
  // Up to the first backslash, a plain copy.
  std::size_t n = 0;
  while (n < length && token[n] != '\\') {
    out[n] = token[n];
    ++n;
  }
  for (std::size_t i = n; i < length; ++i) {
    const bool pair = token[i] == '\\' && i + 1 < length && token[i + 1] == '\'';
    i += pair;
    out[n++] = token[i];
  }
  return n;
}

char* MallocText(std::size_t length) {
  char* text = static_cast<char*>(std::malloc(length + 1));
  if (text == nullptr) throw std::bad_alloc();
  return text;
}

constexpr std::size_t kTagLength = 5;

// A field of the record and its length.
struct Field {
  char** text = nullptr;
  std::size_t* length = nullptr;
};

// Whether a token starting with `c` may start with a tag word.
bool MayStartTag(char c) { return c == 'P' || c == 'S'; }

// The field that a token starting with a tag word sets, tested in the order
// "PYMOD", "PYOBJ", "SETID", "PYOMD"; none for a positional token. Each
// comparison is of five constant bytes, which the compiler inlines: this
// runs for every token of every request.
Field TagField(RequestArgs* args, const char* token, std::size_t length) {
  if (length < kTagLength || !MayStartTag(token[0])) return {};
  const auto is = [token](const char* word) { return std::memcmp(token, word, kTagLength) == 0; };
  if (is("PYMOD")) return {&args->module, &args->moduleLength};
  if (is("PYOBJ")) return {&args->name, &args->nameLength};
  if (is("SETID")) return {&args->objectId, &args->objectIdLength};
  if (is("PYOMD")) return {&args->method, &args->methodLength};
  return {};
}

// The value of a tag token into `out`: its bytes after the tag word, less
// every "=" and space. The usual "PYMOD=name" is one copy. Returns the
// value's length.
std::size_t CopyTagValue(const char* token, std::size_t length, char* out) {
  const char* value = token + kTagLength;
  std::size_t size = length - kTagLength;
  if (size > 0 && value[0] == '=') {
    ++value;
    --size;
  }
  if (std::memchr(value, '=', size) == nullptr && std::memchr(value, ' ', size) == nullptr) {
    std::memcpy(out, value, size);
    out[size] = '\0';
    return size;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < size; ++i) {
    out[n] = value[i];
    n += value[i] != '=' && value[i] != ' ';  // kept, or overwritten by the next byte
  }
  out[n] = '\0';
  return n;
}

// The usual positional token, short and unquoted: one whose first byte
// cannot start a tag word. It is written into its text in the same pass that
// finds its end, a space or the end of the text. Returns that end, or 0 when
// the token runs on past kShortToken bytes: nothing is kept then, and the
// token is parsed as any other.
std::size_t AddShortParam(RequestArgs* args, const char* text, std::size_t start, std::size_t end) {
  const std::size_t limit = std::min(end, start + kShortToken);
  char* const out = args->RoomForTextInPlace(limit - start);
  std::size_t n = 0;
  std::size_t i = start;
  for (; i < limit && text[i] != ' '; ++i) {
    // A backslash-apostrophe pair is an apostrophe.
    i += text[i] == '\\' && i + 1 < limit && text[i + 1] == '\'';
    out[n++] = text[i];
  }
  if (i == limit && i < end && text[i] != ' ') return 0;
  out[n] = '\0';
  args->KeepText(n);
  args->AppendParam(out);
  return i;
}

// Adds one token; true when it was a tag token.
bool Add(RequestArgs* args, const char* token, std::size_t length) {
  const Field field = TagField(args, token, length);
  if (field.text != nullptr) {
    // A repeated tag replaces the earlier value; the value is never longer
    // than the token.
    char* value = args->RoomForText(length);
    *field.length = CopyTagValue(token, length, value);
    *field.text = value;
    return true;
  }
  char* param = args->RoomForText(length);  // the replacement only shortens it
  param[CopyParam(token, length, param)] = '\0';
  args->AppendParam(param);
  return false;
}

}  // namespace

QORV_HOT_PATH(13)
bool ParseParameters(const char* text, RequestArgs* args, ParseError* error) {
  const std::size_t end = std::strlen(text);
  std::size_t i = args->Resume(text, end);
  ParserState state = ParserState::BetweenTokens;
  std::size_t tokenStart = 0;
  // Whether the text so far holds only unquoted tag tokens and spaces, which
  // a later text that starts with the same bytes may skip.
  bool leadingTags = true;
  auto fail = [&](std::size_t at, const char* what) {
    args->Reset(0);
    if (error != nullptr) *error = {at, what};
    return false;
  };
  // An unquoted token ended at i; the quoted one lies between the opening
  // apostrophe and the character before i.
  auto emitUnquoted = [&](std::size_t at) {
    const bool tag = Add(args, text + tokenStart, at - tokenStart);
    leadingTags = leadingTags && tag;
  };
  auto emitQuoted = [&](std::size_t at) {
    Add(args, text + tokenStart + 1, at - tokenStart - 2);
    leadingTags = false;
  };
  auto finish = [&]() {
    args->RememberLeadingTags(text);
    return true;
  };

  for (;; ++i) {
    // A run of bytes on which the state stays is crossed in one step: in
    // Unquoted everything but a space or the end, in Quoted everything but an
    // apostrophe, a backslash or the end.
    if (state == ParserState::Unquoted) i = FindSpace(text, i, end);
    if (state == ParserState::Quoted) i = SkipQuoted(text, i);
    const CharClass c = Classify(static_cast<unsigned char>(text[i]));
    switch (state) {
      case ParserState::BetweenTokens:
        switch (c) {
          case CharClass::EndOfText: return finish();
          case CharClass::Space:
            if (leadingTags) args->MarkLeadingTags(i + 1);
            break;
          case CharClass::Apostrophe: tokenStart = i; state = ParserState::Quoted; break;
          case CharClass::Backslash:
          case CharClass::Other:
            if (!MayStartTag(text[i])) {
              if (const std::size_t tokenEnd = AddShortParam(args, text, i, end)) {
                leadingTags = false;
                if (text[tokenEnd] == '\0') return finish();
                i = tokenEnd;  // the space after the token
                break;
              }
            }
            tokenStart = i;
            state = ParserState::Unquoted;
            break;
        }
        break;
      case ParserState::Unquoted:
        switch (c) {
          case CharClass::EndOfText:
            emitUnquoted(i);
            if (leadingTags) args->MarkLeadingTags(i);
            return finish();
          case CharClass::Space:
            emitUnquoted(i);
            if (leadingTags) args->MarkLeadingTags(i + 1);
            state = ParserState::BetweenTokens;
            break;
          case CharClass::Apostrophe: break;
          case CharClass::Backslash: break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::Quoted:
        switch (c) {
          case CharClass::EndOfText: return fail(tokenStart, "the quote that opens here is not closed");
          case CharClass::Space: break;
          case CharClass::Apostrophe: state = ParserState::QuoteClosed; break;
          case CharClass::Backslash: state = ParserState::QuotedEscape; break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::QuotedEscape:
        switch (c) {
          case CharClass::EndOfText: return fail(tokenStart, "the quote that opens here is not closed");
          case CharClass::Space: break;  // the escape waits for a non-space
          case CharClass::Apostrophe: state = ParserState::Quoted; break;
          case CharClass::Backslash: state = ParserState::Quoted; break;
          case CharClass::Other: state = ParserState::Quoted; break;
        }
        break;
      case ParserState::QuoteClosed:
        switch (c) {
          case CharClass::EndOfText: emitQuoted(i); return finish();
          case CharClass::Space: emitQuoted(i); state = ParserState::BetweenTokens; break;
          case CharClass::Apostrophe: break;  // taken into the token
          case CharClass::Backslash: break;   // taken into the token
          case CharClass::Other: return fail(i, "only a space may follow a closing quote");
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

void AddToken(RequestArgs* args, const char* token, std::size_t length) { Add(args, token, length); }

char* TagValue(const char* token, std::size_t length, const char* tag, char* out) {
  std::size_t n = 0;
  for (std::size_t i = std::char_traits<char>::length(tag); i < length; ++i) {
    const char c = token[i];
    out[n] = c;
    n += c != '=' && c != ' ';  // kept, or overwritten by the next byte
  }
  out[n] = '\0';
  return out;
}

char* TagValue(const char* token, std::size_t length, const char* tag) {
  return TagValue(token, length, tag, MallocText(length));
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
