#include "interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <vector>

namespace {

enum State : int { kIdle, kTyping, kRunning };

// What the handler reads and writes; lock-free atomics are safe in a handler.
std::atomic<int> state{kIdle};
std::atomic<int> typedInterrupt{0};
std::atomic<long long> lastStopAsked{-1};  // milliseconds, monotonic
std::atomic<int> wakeWrite{-1};

constexpr long long kSecondInterruptMs = 1000;
constexpr char kWake = 1;
constexpr char kQuit = 0;

long long NowMs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

// Set before the handler is installed, read only by it.
char leftoverFile[4096] = {};
char leftoverDirectory[4096] = {};

// Ends the process as SIGINT's default disposition does: the signal is
// blocked while this handler runs and is delivered once it returns. The
// temporary log directory goes first (unlink and rmdir are safe here).
void EndAsInterrupted() {
  if (leftoverFile[0] != '\0') unlink(leftoverFile);
  if (leftoverDirectory[0] != '\0') rmdir(leftoverDirectory);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigaction(SIGINT, &standard, nullptr);
  raise(SIGINT);
}

void OnInterrupt(int) {
  const int savedErrno = errno;
  switch (state.load()) {
    case kTyping:
      typedInterrupt.store(1);
      break;
    case kRunning: {
      const long long now = NowMs();
      const long long last = lastStopAsked.exchange(now);
      if (last >= 0 && now - last < kSecondInterruptMs) {
        EndAsInterrupted();
        break;
      }
      const int fd = wakeWrite.load();
      if (fd < 0 || write(fd, &kWake, 1) != 1) EndAsInterrupted();
      break;
    }
    default:
      EndAsInterrupted();
  }
  errno = savedErrno;
}

// Ctrl-C is the main thread's to see: there it makes the prompt's select
// return.
void BlockInterruptsInThisThread() {
  sigset_t interrupt;
  sigemptyset(&interrupt);
  sigaddset(&interrupt, SIGINT);
  pthread_sigmask(SIG_BLOCK, &interrupt, nullptr);
}

}  // namespace

Interrupts::Interrupts(PluginBase* plugin) : plugin_(plugin) {
  int wake[2];
  if (pipe2(wake, O_CLOEXEC) == 0) {
    fcntl(wake[1], F_SETFL, O_NONBLOCK);  // the handler never waits
    wakeRead_ = wake[0];
    try {
      sender_ = std::thread(&Interrupts::SendInterrupts, this);
      wakeWrite.store(wake[1]);
    } catch (const std::system_error&) {
      close(wake[0]);
      close(wake[1]);
      wakeRead_ = -1;
    }
  }
  // SA_RESTART: a read or write of the host's or of Python's goes on after
  // the handler rather than failing with EINTR (select and poll, as the
  // prompt wants, return all the same).
  struct sigaction handler {};
  handler.sa_handler = OnInterrupt;
  handler.sa_flags = SA_RESTART;
  sigemptyset(&handler.sa_mask);
  sigaction(SIGINT, &handler, nullptr);
}

Interrupts::~Interrupts() {
  state.store(kIdle);
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigaction(SIGINT, &standard, nullptr);
  const int fd = wakeWrite.exchange(-1);
  if (fd < 0) return;
  while (write(fd, &kQuit, 1) < 0 && errno == EINTR) {
  }
  sender_.join();
  close(fd);
  close(wakeRead_);
}

void Interrupts::RemoveOnInterrupt(const std::string& directory, const char* fileName) {
  const std::string file = directory + "/" + fileName;
  if (directory.empty() || file.size() >= sizeof leftoverFile) return;
  file.copy(leftoverFile, file.size());
  directory.copy(leftoverDirectory, directory.size());
}

void Interrupts::RequestStarts() { state.store(kRunning); }
void Interrupts::RequestEnded() { state.store(kIdle); }
void Interrupts::TypingStarts() { state.store(kTyping); }
void Interrupts::TypingEnded() { state.store(kIdle); }
bool Interrupts::TakeTypedInterrupt() { return typedInterrupt.exchange(0) != 0; }

void Interrupts::SendInterrupts() {
  BlockInterruptsInThisThread();
  std::vector<char> parameters(kQorvParameterBufferSize);
  for (;;) {
    char word = kQuit;
    const ssize_t got = read(wakeRead_, &word, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0 || word == kQuit) return;
    // The request may have ended since the handler ran.
    if (state.load() != kRunning) continue;
    parameters[0] = '\0';
    plugin_->HandleRequest("", "PyInterrupt", parameters.data());
  }
}
