// One run of the plugin, from Open to Close: its settings, its held objects
// and their ids, its main namespace, the names and functions its calls
// found, and the record of what Python changed in the host meanwhile. Open
// makes it, Close ends it, and ending it undoes exactly what the run changed.
// The request handlers are its own: it is the dispatcher's handler type.
#ifndef QORV_PLUGIN_SESSION_H
#define QORV_PLUGIN_SESSION_H

#include <cstddef>
#include <string>

#include "config/plugin_settings.h"
#include "plugin/call_context.h"
#include "python/calls.h"
#include "python/errors.h"
#include "python/request_watch.h"
#include "python/run_record.h"
#include "python/runtime.h"
#include "requests/dispatcher.h"
#include "requests/hot_path.h"
#include "requests/object_registry.h"

class Session {
 public:
  using Row = RequestRow<Session>;

  // Where the run's log lines go (the plugin's log file), from any thread.
  struct Log {
    LogCopy write = nullptr;
    void* context = nullptr;
  };

  Session(Runtime& runtime, PluginSettings settings, Log log);
  // Ends the run if End was not called.
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Starts the run: Python started (or carried on), the host's state
  // recorded, a fresh main namespace. False with the reason when the run
  // cannot start; the session is then to be destroyed. Hold no lock.
  bool Start(std::string* reason);
  // Ends the run: held objects released, exit handlers run, this run's
  // namespace and threads let go, the record undone; then Python is kept or
  // shut down. Hold no lock.
  void End();

  // The row of a request's function name, or null.
  static const Row* FindRequest(const char* functionName);
  // Answers "NONE" into the host's buffer.
  static const char* Refuse(char* parameters);

  // Serves one request, in its turn. `thread` is the calling host thread's.
  const char* Serve(const Row* row, HostThread& thread, const char* functionName, char* parameters);
  // Serves a request whose row is served at once, beside the one in turn.
  const char* ServeAtOnce(const Row& row, HostThread& thread, const char* functionName,
                          char* parameters);

  // The rows of the request table. Each answers, or returns null for "NONE".
  const char* HandleCallObject(const Request& request);
  const char* HandleRunString(const Request& request);
  const char* HandleRunFile(const Request& request);
  const char* HandleCreateObject(const Request& request);
  const char* HandleRemoveObject(const Request& request);
  const char* HandleCallObjectMethod(const Request& request);
  const char* HandleInterrupt(const Request& request);

  // What the dispatcher reports: a failure's reason, and each request served.
  QORV_COLD_PATH
  void RequestFailed(const Request& request, const std::string& why);
  void RequestServed(const Request& request, const char* answer);

 private:
  // One line naming what failed, on Python's sys.stderr, and in the log
  // file when the settings ask for errors. The lock must be held.
  QORV_COLD_PATH
  void ReportFailure(const std::string& line);
  // The answer of a call: its result's text, or null with the reason
  // reported. `printedBefore`: PrintedErrorCount() before the call.
  const char* AnswerOf(const Request& request, PyRef result, unsigned long printedBefore);
  void SumUpFailedCall(const Request& request, unsigned long printedBefore);
  const char* Dispatch(const Row* row, CallContext& call, const char* functionName,
                       char* parameters);

  Runtime& runtime_;
  const PluginSettings settings_;
  const Log log_;
  bool started_ = false;
  ObjectRegistry registry_;
  PythonCalls calls_;
  RunRecord record_;
  RequestWatch watch_;
};

#endif  // QORV_PLUGIN_SESSION_H
