// qorv-host run as a program by the end-to-end tests: to its end with given
// input, or live, talking to it on a pipe or a pseudo-terminal.
#ifndef QORV_TESTS_E2E_HOST_PROCESS_H
#define QORV_TESTS_E2E_HOST_PROCESS_H

#include <sys/types.h>

#include <string>
#include <vector>

struct HostRun {
  int status;  // the exit status; -1 when it did not exit
  std::string out;
  std::string err;
};

// Runs qorv-host with the arguments, `input` on its standard input.
HostRun RunHost(const std::vector<std::string>& args, const std::string& input = "");

int Lines(const std::string& text);

// A qorv-host that runs while the test talks to it. On a pseudo-terminal,
// standard input, output and error are all the terminal (`in` and `out` the
// same descriptor), unless answersApart puts standard output on a pipe of
// its own, read with Answers().
class LiveHost {
 public:
  struct Setup {
    bool terminal = false;
    bool answersApart = false;
    std::vector<std::string> environment;  // "NAME=value", added to the test's own
  };
  LiveHost(const std::vector<std::string>& args, const Setup& setup);
  ~LiveHost();  // kills it if it still runs
  LiveHost(const LiveHost&) = delete;
  LiveHost& operator=(const LiveHost&) = delete;

  void Write(const std::string& text) const;
  // Reads until `expected` shows up after where the previous ReadUntil found
  // its text, for ten seconds at most. Returns everything read so far.
  std::string ReadUntil(const std::string& expected);
  // The wait status once it has ended, for ten seconds at most.
  int Wait();
  // Standard output, when it was apart from the terminal: all of it, once
  // qorv-host has ended.
  std::string Answers();
  void Interrupt() const;  // SIGINT, as the terminal's Ctrl-C sends it

  pid_t pid() const { return pid_; }
  const std::string& seen() const { return seen_; }

 private:
  pid_t pid_ = -1;
  int in_ = -1;
  int out_ = -1;
  int answers_ = -1;
  bool ended_ = false;
  std::size_t readFrom_ = 0;  // just past the previous ReadUntil's text
  std::string seen_;
};

#endif  // QORV_TESTS_E2E_HOST_PROCESS_H
