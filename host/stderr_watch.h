// Watches what the process writes on standard error while requests run, so
// that qorv-host can tell a failed request from a silent NONE and say which
// line of a session file a failure came from.
//
// The plugin prints each failure reason as one line starting with
// "qorv_python: " on Python's sys.stderr, that is on descriptor 2, which
// qorv-host cannot otherwise see. While a watch exists, descriptor 2 is the
// writing end of a pipe; a relay thread copies everything to the real
// standard error as it comes, counting the reason lines and putting a
// location before each. Text is held back only while a line's first bytes
// could still become "qorv_python: ", and qorv-host waits for the relay to
// catch up before it prints an answer, so nothing comes out of order with
// qorv-host's own output.
#ifndef QORV_HOST_STDERR_WATCH_H
#define QORV_HOST_STDERR_WATCH_H

#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class StderrWatch {
 public:
  // Null (and descriptor 2 left as it is) when no pipe or thread can be had.
  static std::unique_ptr<StderrWatch> Start();
  // Relays what is left, puts the real standard error back on descriptor 2
  // and stops the relay thread.
  ~StderrWatch();
  StderrWatch(const StderrWatch&) = delete;
  StderrWatch& operator=(const StderrWatch&) = delete;

  // Relays everything written so far, then counts reason lines afresh and
  // puts `location` and ": " before each that follows (nothing when empty).
  void BeginRequest(const std::string& location);
  // Relays everything written so far; returns the reason lines counted since
  // BeginRequest.
  int EndRequest();
  // Writes `line` and a newline to the real standard error, after everything
  // written so far.
  void WriteLine(const std::string& line);
  // A descriptor of the real standard error, for a prompt that must reach
  // the terminal at once.
  int RealStderr() const { return realStderr_; }

 private:
  StderrWatch(int readEnd, int realStderr, int stopRead, int stopWrite);
  void Relay();
  void Take(const char* data, std::size_t size, std::string* out);
  void FlushHeldBack(std::string* out);
  void WaitUntilRelayed(std::unique_lock<std::mutex>& lock);
  void Write(const std::string& text) const;

  // At a line's start (bytes may be held back) or past it.
  enum class LineState { kStart, kOther };

  const int readEnd_;
  const int realStderr_;
  const int stopRead_;
  const int stopWrite_;
  std::mutex mutex_;
  std::condition_variable relayed_;
  bool relaying_ = false;  // a chunk is read but not yet written out
  bool ended_ = false;     // the pipe gave EOF or an error
  LineState state_ = LineState::kStart;
  std::string heldBack_;  // the start of a line that may become a reason line
  std::string location_;
  int reasons_ = 0;
  std::thread relay_;
};

#endif  // QORV_HOST_STDERR_WATCH_H
