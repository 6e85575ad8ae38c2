#include "requests/request_args.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

RequestArgs::~RequestArgs() {
  std::free(module);
  std::free(name);
  std::free(objectId);
  std::free(method);
  for (std::int32_t i = 0; i < paramCount; ++i) std::free(params[i]);
  std::free(params);
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

char* ReplaceAllIn(std::string_view text, std::string_view find, std::string_view replacement) {
  // First pass counts, so that the result is allocated once at its size.
  std::size_t count = 0;
  for (std::size_t at = text.find(find); at != std::string_view::npos;
       at = text.find(find, at + find.size())) {
    ++count;
  }
  const std::size_t size = text.size() + count * replacement.size() - count * find.size();
  char* result = static_cast<char*>(std::malloc(size + 1));
  if (result == nullptr) throw std::bad_alloc();
  char* out = result;
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
  out[text.size() - from] = '\0';
  return result;
}

void SetTag(char** field, const char* token, std::size_t length, const char* tag) {
  char* value = TagValue(token, length, tag);
  std::free(*field);  // a repeated tag replaces the earlier value
  *field = value;
}

// Grows params by one entry. The array doubles whenever the count reaches a
// power of two, so its capacity follows from the count alone and a text of n
// parameters costs O(n).
void AppendParam(RequestArgs* args, char* param) {
  const std::int32_t count = args->paramCount;
  if ((count & (count - 1)) == 0) {
    const std::size_t capacity = count == 0 ? 1 : 2 * static_cast<std::size_t>(count);
    auto* grown = static_cast<char**>(std::realloc(args->params, capacity * sizeof(char*)));
    if (grown == nullptr) {
      std::free(param);
      throw std::bad_alloc();
    }
    args->params = grown;
  }
  args->params[count] = param;
  args->paramCount = count + 1;
}

}  // namespace

std::unique_ptr<RequestArgs> ParseParameters(const char* text) {
  auto args = std::make_unique<RequestArgs>();
  ParserState state = ParserState::BetweenTokens;
  std::size_t tokenStart = 0;
  // The quoted token lies between the opening apostrophe and the character
  // before i; the unquoted one runs from tokenStart to i.
  auto emitUnquoted = [&](std::size_t i) { AddToken(args.get(), text + tokenStart, i - tokenStart); };
  auto emitQuoted = [&](std::size_t i) {
    AddToken(args.get(), text + tokenStart + 1, i - tokenStart - 2);
  };

  for (std::size_t i = 0;; ++i) {
    const CharClass c = Classify(static_cast<unsigned char>(text[i]));
    switch (state) {
      case ParserState::BetweenTokens:
        switch (c) {
          case CharClass::EndOfText: return args;
          case CharClass::Space: break;
          case CharClass::Apostrophe: tokenStart = i; state = ParserState::Quoted; break;
          case CharClass::Backslash: tokenStart = i; state = ParserState::Unquoted; break;
          case CharClass::Other: tokenStart = i; state = ParserState::Unquoted; break;
        }
        break;
      case ParserState::Unquoted:
        switch (c) {
          case CharClass::EndOfText: emitUnquoted(i); return args;
          case CharClass::Space: emitUnquoted(i); state = ParserState::BetweenTokens; break;
          case CharClass::Apostrophe: break;
          case CharClass::Backslash: break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::Quoted:
        switch (c) {
          case CharClass::EndOfText: return nullptr;
          case CharClass::Space: break;
          case CharClass::Apostrophe: state = ParserState::QuoteClosed; break;
          case CharClass::Backslash: state = ParserState::QuotedEscape; break;
          case CharClass::Other: break;
        }
        break;
      case ParserState::QuotedEscape:
        switch (c) {
          case CharClass::EndOfText: return nullptr;
          case CharClass::Space: break;  // the escape waits for a non-space
          case CharClass::Apostrophe: state = ParserState::Quoted; break;
          case CharClass::Backslash: state = ParserState::Quoted; break;
          case CharClass::Other: state = ParserState::Quoted; break;
        }
        break;
      case ParserState::QuoteClosed:
        switch (c) {
          case CharClass::EndOfText: emitQuoted(i); return args;
          case CharClass::Space: emitQuoted(i); state = ParserState::BetweenTokens; break;
          case CharClass::Apostrophe: break;  // taken into the token
          case CharClass::Backslash: break;   // taken into the token
          case CharClass::Other: return nullptr;
        }
        break;
    }
  }
}

void AddToken(RequestArgs* args, const char* token, std::size_t length) {
  const auto startsWith = [&](const char* tag) {
    return length >= 5 && std::memcmp(token, tag, 5) == 0;
  };
  if (startsWith("PYMOD")) return SetTag(&args->module, token, length, "PYMOD");
  if (startsWith("PYOBJ")) return SetTag(&args->name, token, length, "PYOBJ");
  if (startsWith("SETID")) return SetTag(&args->objectId, token, length, "SETID");
  if (startsWith("PYOMD")) return SetTag(&args->method, token, length, "PYOMD");
  AppendParam(args, ReplaceAllIn(std::string_view(token, length), "\\'", "'"));
}

char* TagValue(const char* token, std::size_t length, const char* tag) {
  const std::size_t tagLength = std::strlen(tag);
  char* value = static_cast<char*>(std::malloc(length + 1));
  if (value == nullptr) throw std::bad_alloc();
  std::size_t n = 0;
  for (std::size_t i = tagLength; i < length; ++i) {
    if (token[i] != '=' && token[i] != ' ') value[n++] = token[i];
  }
  value[n] = '\0';
  return value;
}

char* ReplaceAll(const char* text, const char* find, const char* replacement) {
  return ReplaceAllIn(text, find, replacement);
}
