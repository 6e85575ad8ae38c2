// The parsed form of a structured parameter text, and its parser. Knows
// nothing of Python.
//
// A text is split at spaces into tokens; a token that starts with an
// apostrophe is quoted (spaces belong to it, a backslash escapes the next
// non-space character). Tokens starting with "PYMOD", "PYOBJ", "SETID" or
// "PYOMD" set the named field; every other token is the next positional
// parameter, with each backslash-apostrophe turned into an apostrophe.
#ifndef QORV_REQUESTS_REQUEST_ARGS_H
#define QORV_REQUESTS_REQUEST_ARGS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

// The fields point into texts the record owns. A record can be parsed into
// again and again: its storage is kept, so a steady stream of requests parses
// without allocating. It also remembers the leading tag tokens of the last
// text parsed into it ("PYMOD=tools PYOBJ=echo "), which a host sends the
// same request after request: a text that starts with the very same bytes
// carries on from there.
struct RequestArgs {
  RequestArgs() = default;
  RequestArgs(const RequestArgs&) = delete;
  RequestArgs& operator=(const RequestArgs&) = delete;

  char* module = nullptr;    // "PYMOD"
  char* name = nullptr;      // "PYOBJ"
  char* objectId = nullptr;  // "SETID"
  char* method = nullptr;    // "PYOMD"
  char** params = nullptr;   // positional parameters, in text order
  std::int32_t paramCount = 0;
  // The lengths of the four texts above; 0 for one that is missing.
  std::size_t moduleLength = 0;
  std::size_t nameLength = 0;
  std::size_t objectIdLength = 0;
  std::size_t methodLength = 0;

  // Empties the record and makes room for the texts of a parameter text of
  // `textLength` bytes. The texts of all tokens together never need more
  // than textLength + 1 bytes, so the storage never moves while parsing.
  void Reset(std::size_t textLength);
  // Where parsing `text` (of `textLength` bytes) may start: after the leading
  // tag tokens of the last text parsed, when `text` starts with the same
  // bytes (the record then holds their values), else at 0 (the record is Reset).
  std::size_t Resume(const char* text, std::size_t textLength);
  // Notes that text[0, end) holds only tag tokens and the spaces after them
  // (or the text ends at `end`), as parsed into the record as it is now.
  void MarkLeadingTags(std::size_t end);
  // After a parse: remembers the leading tags last marked, for the next.
  void RememberLeadingTags(const char* text);
  // Gives back storage that one huge text made large.
  void Shrink() {
    if (textsCapacity_ > kLargeTexts || paramPointers_.capacity() > kManyParams) GiveBackStorage();
  }

  // Room in the storage for a text of up to `length` bytes and its NUL.
  // Reset made room for every text of the parse, so the storage never moves
  // and the texts stored earlier stay where they are.
  char* RoomForText(std::size_t length) {
    if (length + 1 > textsCapacity_ - textsUsed_) NoRoomForText();
    char* room = texts_.get() + textsUsed_;
    textsUsed_ += length + 1;
    return room;
  }
  // The free storage, for a text written in place before its length is
  // known; at least `length` bytes and a NUL fit. KeepText then keeps the
  // first `written` bytes (the NUL after them written by the caller); a text
  // not kept is overwritten by the next.
  char* RoomForTextInPlace(std::size_t length) {
    if (length + 1 > textsCapacity_ - textsUsed_) NoRoomForText();
    return texts_.get() + textsUsed_;
  }
  void KeepText(std::size_t written) { textsUsed_ += written + 1; }
  void AppendParam(char* param) {
    paramPointers_.push_back(param);
    params = paramPointers_.data();
    paramCount = static_cast<std::int32_t>(paramPointers_.size());
  }

 private:
  static constexpr std::size_t kLargeTexts = 65536;
  static constexpr std::size_t kManyParams = 4096;
  void GiveBackStorage();
  [[noreturn]] static void NoRoomForText();

  // All texts of the fields, back to back, each with its NUL.
  std::unique_ptr<char[]> texts_;
  std::size_t textsCapacity_ = 0;
  std::size_t textsUsed_ = 0;
  std::vector<char*> paramPointers_;
  // The leading tag tokens remembered, and the record as they left it; and
  // the same as marked during the parse in progress.
  struct Leading {
    std::size_t end = 0;
    std::size_t textsUsed = 0;
    char* fields[4] = {};
    std::size_t lengths[4] = {};
  };
  std::string leadingText_;
  Leading leading_;
  Leading marked_;
};

// Where and why a parameter text was rejected.
struct ParseError {
  std::size_t position = 0;  // byte offset of the offending character
  const char* what = "";     // what is wrong there
};

// Parses `text` into `args`. False, with `args` empty and *error (when given)
// saying where, when the text is malformed: a character other than a space,
// apostrophe or backslash right after a closing apostrophe, or the text
// ending inside quotes.
bool ParseParameters(const char* text, RequestArgs* args, ParseError* error = nullptr);

// The same into a new record; null when the text is malformed.
std::unique_ptr<RequestArgs> ParseParameters(const char* text);

// Adds one token of `length` bytes (not NUL-terminated) to the record.
void AddToken(RequestArgs* args, const char* token, std::size_t length);

// The value of a tagged token: the bytes after the tag word, less every "="
// and space. A new malloc'd text, possibly empty.
char* TagValue(const char* token, std::size_t length, const char* tag);
// The same written into `out`, which has room for `length` bytes and a NUL;
// returns `out`.
char* TagValue(const char* token, std::size_t length, const char* tag, char* out);

// A new malloc'd copy of `text` with every occurrence of `find` (not empty)
// replaced by `replacement`, scanning left to right without overlap.
char* ReplaceAll(const char* text, const char* find, const char* replacement);

#endif  // QORV_REQUESTS_REQUEST_ARGS_H
