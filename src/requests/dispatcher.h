// The request dispatcher: a table of rows, each a function name and the
// handler it selects, searched in order with an exact comparison of whole
// names. For the rows that take parameters it parses the parameter text once
// and hands the record on. It alone writes into the host's buffer.
#ifndef QORV_REQUESTS_DISPATCHER_H
#define QORV_REQUESTS_DISPATCHER_H

#include <cstddef>
#include <cstring>
#include <string>

#include "requests/answer_text.h"
#include "requests/hot_path.h"
#include "requests/request_args.h"
#include "requests/same_bytes.h"

// One request as a handler sees it.
struct Request {
  const char* functionName;
  const char* text;         // the raw parameter text
  const RequestArgs* args;  // the parsed text, for the rows that parse; else null
  // Where a handler puts an answer text of its own, which stays valid until
  // the calling thread's next call.
  AnswerText* answer;
};

template <typename Handlers>
struct RequestRow {
  const char* functionName;
  bool parsesParameters;
  // Served at once, beside a request that is being served, rather than in
  // its turn after it.
  bool servedAtOnce;
  // The answer, or null for none ("NONE").
  const char* (Handlers::*handler)(const Request& request);
};

// Copies the answer of `length` bytes to the start of the host's buffer,
// never past `bufferSize` bytes: a longer answer is cut there (the returned
// pointer carries the whole text).
void CopyAnswer(const char* answer, std::size_t length, char* buffer, std::size_t bufferSize);

// The answer of a request that has none.
constexpr const char kNoAnswer[] = "NONE";

// `Handlers` provides the handlers of the rows and
//   void RequestFailed(const Request& request, const std::string& why);
// through which the dispatcher reports a name that is not in the table and a
// parameter text it rejects, and
//   void RequestServed(const Request& request, const char* answer);
// which sees every request and its answer (null for none) while the
// parameter text is still intact.
template <typename Handlers>
class Dispatcher {
 public:
  using Row = RequestRow<Handlers>;

  // `bufferSize`: the bytes, terminating NUL included, that the host's
  // buffer is known to hold.
  template <std::size_t N>
  Dispatcher(const Row (&rows)[N], std::size_t bufferSize)
      : rows_(rows), rowCount_(N), bufferSize_(bufferSize) {
    static_assert(N <= kMaxRows, "more rows than the dispatcher has room for");
    for (std::size_t i = 0; i < N; ++i) nameLengths_[i] = std::strlen(rows[i].functionName);
  }

  // The row of `functionName`, or null. The lengths tell most names apart
  // before any byte is compared.
  QORV_HOT_PATH(02)
  const Row* Find(const char* functionName) const {
    const std::size_t length = std::strlen(functionName);
    for (std::size_t i = 0; i < rowCount_; ++i) {
      if (nameLengths_[i] == length && SameBytes(rows_[i].functionName, functionName, length)) {
        return &rows_[i];
      }
    }
    return nullptr;
  }

  // Serves one request with the row Find gave (null: no such request):
  // parses when the row asks for it, into `args`, runs the handler and
  // writes its answer, or "NONE", into `parameters`. Returns the answer.
  // Never throws.
  QORV_HOT_PATH(10)
  const char* Dispatch(Handlers& handlers, const Row* row, const char* functionName,
                       char* parameters, RequestArgs& args, AnswerText& answer) const {
    const char* answered = nullptr;
    try {
      Request request{functionName, parameters, nullptr, &answer};
      answered = Serve(handlers, row, request, args);
      handlers.RequestServed(request, answered);
    } catch (...) {
      // Nothing may cross the boundary; a handler that threw has no answer.
      answered = nullptr;
    }
    // An answer of the handler's own has its length at hand.
    if (answered != nullptr && answered == answer.c_str()) {
      if (parameters != nullptr) CopyAnswer(answered, answer.size(), parameters, bufferSize_);
      return answered;
    }
    return Answer(answered, parameters);
  }

  // Answers "NONE" without looking at the request.
  const char* Refuse(char* parameters) const { return Answer(nullptr, parameters); }

 private:
  // The request is handed on by reference: a copy of it, written and read
  // back at once, stalls the processor on every request.
  QORV_HOT_PATH(11)
  const char* Serve(Handlers& handlers, const Row* row, Request& request, RequestArgs& args) const {
    args.Shrink();
    if (row == nullptr) {
      handlers.RequestFailed(request,
                             "no request is named '" + std::string(request.functionName) + "'");
      return nullptr;
    }
    if (row->parsesParameters) {
      ParseError error;
      if (!ParseParameters(request.text, &args, &error)) {
        handlers.RequestFailed(request, "parameter text rejected at byte " +
                                            std::to_string(error.position) + ": " + error.what);
        return nullptr;
      }
      request.args = &args;
    }
    return (handlers.*row->handler)(request);
  }

  QORV_HOT_PATH(25)
  const char* Answer(const char* answer, char* parameters) const {
    if (answer == nullptr) answer = kNoAnswer;
    if (parameters != nullptr) CopyAnswer(answer, std::strlen(answer), parameters, bufferSize_);
    return answer;
  }

  static constexpr std::size_t kMaxRows = 16;
  const Row* rows_;
  std::size_t rowCount_;
  std::size_t bufferSize_;
  std::size_t nameLengths_[kMaxRows] = {};
};

#endif  // QORV_REQUESTS_DISPATCHER_H
