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

// Owns every text it points to (malloc'd) and the params array.
struct RequestArgs {
  RequestArgs() = default;
  RequestArgs(const RequestArgs&) = delete;
  RequestArgs& operator=(const RequestArgs&) = delete;
  ~RequestArgs();

  char* module = nullptr;    // "PYMOD"
  char* name = nullptr;      // "PYOBJ"
  char* objectId = nullptr;  // "SETID"
  char* method = nullptr;    // "PYOMD"
  char** params = nullptr;   // positional parameters, in text order
  std::int32_t paramCount = 0;
};

// The record of `text`, or null when the text is malformed (a character other
// than a space, apostrophe or backslash right after a closing apostrophe, or
// the text ending inside quotes).
std::unique_ptr<RequestArgs> ParseParameters(const char* text);

// Adds one token of `length` bytes (not NUL-terminated) to the record.
void AddToken(RequestArgs* args, const char* token, std::size_t length);

// The value of a tagged token: the bytes after the five-letter tag, less
// every "=" and space. A new malloc'd text, possibly empty.
char* TagValue(const char* token, std::size_t length, const char* tag);

// A new malloc'd copy of `text` with every occurrence of `find` (not empty)
// replaced by `replacement`, scanning left to right without overlap.
char* ReplaceAll(const char* text, const char* find, const char* replacement);

#endif  // QORV_REQUESTS_REQUEST_ARGS_H
