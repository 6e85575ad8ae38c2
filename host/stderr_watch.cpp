#include "stderr_watch.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <system_error>

namespace {

const std::string kReasonStart = "qorv_python: ";

}  // namespace

std::unique_ptr<StderrWatch> StderrWatch::Start() {
  const int realStderr = fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (realStderr < 0) return nullptr;
  int data[2], stop[2];
  if (pipe2(data, O_CLOEXEC) != 0) {
    close(realStderr);
    return nullptr;
  }
  if (pipe2(stop, O_CLOEXEC) != 0) {
    for (int fd : {realStderr, data[0], data[1]}) close(fd);
    return nullptr;
  }
  fcntl(data[0], F_SETFL, O_NONBLOCK);
  std::fflush(stderr);
  // Descriptor 2 itself stays open across exec: Python's subprocesses write
  // their errors through the watch too.
  dup2(data[1], STDERR_FILENO);
  close(data[1]);
  std::unique_ptr<StderrWatch> watch(new StderrWatch(data[0], realStderr, stop[0], stop[1]));
  try {
    watch->relay_ = std::thread(&StderrWatch::Relay, watch.get());
  } catch (const std::system_error&) {
    // No relay: the real standard error goes back before anything is lost.
    dup2(realStderr, STDERR_FILENO);
    return nullptr;
  }
  return watch;
}

StderrWatch::StderrWatch(int readEnd, int realStderr, int stopRead, int stopWrite)
    : readEnd_(readEnd), realStderr_(realStderr), stopRead_(stopRead), stopWrite_(stopWrite) {}

StderrWatch::~StderrWatch() {
  {
    std::unique_lock<std::mutex> lock(mutex_);
    WaitUntilRelayed(lock);
    std::string rest;
    FlushHeldBack(&rest);
    Write(rest);
    dup2(realStderr_, STDERR_FILENO);
  }
  // A child that Python started may keep the pipe open for ever: the relay
  // stops on this word rather than on the pipe's end.
  const char stop = 0;
  while (write(stopWrite_, &stop, 1) < 0 && errno == EINTR) {
  }
  relay_.join();
  for (int fd : {readEnd_, realStderr_, stopRead_, stopWrite_}) close(fd);
}

void StderrWatch::BeginRequest(const std::string& location) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntilRelayed(lock);
  std::string rest;
  FlushHeldBack(&rest);
  Write(rest);
  location_ = location;
  reasons_ = 0;
}

int StderrWatch::EndRequest() {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntilRelayed(lock);
  // A line that stopped short of a whole "qorv_python: " is not held back
  // past the request that wrote it.
  std::string rest;
  FlushHeldBack(&rest);
  Write(rest);
  return reasons_;
}

void StderrWatch::WriteLine(const std::string& line) {
  std::unique_lock<std::mutex> lock(mutex_);
  WaitUntilRelayed(lock);
  std::string text;
  FlushHeldBack(&text);
  if (!text.empty() && text.back() != '\n') text += '\n';
  Write(text + line + "\n");
}

// What was written before this call is in the pipe (a write to a pipe is
// complete when it returns), so the pipe being empty while the relay is idle
// means all of it is out.
void StderrWatch::WaitUntilRelayed(std::unique_lock<std::mutex>& lock) {
  for (;;) {
    int unread = 0;
    if (ended_ || (!relaying_ && ioctl(readEnd_, FIONREAD, &unread) == 0 && unread == 0)) return;
    relayed_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

void StderrWatch::Relay() {
  // Ctrl-C is the main thread's to see (see interrupts.h).
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
  char chunk[65536];
  for (;;) {
    pollfd ready[2] = {{readEnd_, POLLIN, 0}, {stopRead_, POLLIN, 0}};
    if (poll(ready, 2, -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (ready[1].revents != 0) return;
    if (ready[0].revents == 0) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    relaying_ = true;
    const ssize_t got = read(readEnd_, chunk, sizeof chunk);
    if (got > 0) {
      std::string out;
      Take(chunk, static_cast<std::size_t>(got), &out);
      Write(out);
    }
    relaying_ = false;
    if (got == 0 || (got < 0 && errno != EINTR && errno != EAGAIN)) ended_ = true;
    relayed_.notify_all();
    if (ended_) break;
  }
  // The pipe is gone: nothing more will come, and nobody is to wait for it.
  std::lock_guard<std::mutex> lock(mutex_);
  ended_ = true;
  relayed_.notify_all();
}

// Copies `data` to `out`, a location before each reason line. Only the first
// bytes of a line are held back, and only while they still match the start
// of "qorv_python: ".
void StderrWatch::Take(const char* data, std::size_t size, std::string* out) {
  for (std::size_t i = 0; i < size; ++i) {
    const char c = data[i];
    if (state_ == LineState::kOther) {
      out->push_back(c);
      if (c == '\n') state_ = LineState::kStart;
      continue;
    }
    heldBack_.push_back(c);
    if (kReasonStart.compare(0, heldBack_.size(), heldBack_) != 0) {
      *out += heldBack_;
      heldBack_.clear();
      if (c != '\n') state_ = LineState::kOther;
      continue;
    }
    if (heldBack_.size() < kReasonStart.size()) continue;
    ++reasons_;
    if (!location_.empty()) *out += location_ + ": ";
    *out += heldBack_;
    heldBack_.clear();
    state_ = LineState::kOther;
  }
}

void StderrWatch::FlushHeldBack(std::string* out) {
  if (heldBack_.empty()) return;
  *out += heldBack_;
  heldBack_.clear();
  state_ = LineState::kOther;
}

void StderrWatch::Write(const std::string& text) const {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t wrote = write(realStderr_, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) return;  // a closed standard error takes nothing more
    done += static_cast<std::size_t>(wrote);
  }
}
