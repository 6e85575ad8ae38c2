#include "e2e/host_process.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <cstring>

#include "support/temp_dir.h"

namespace {

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

}  // namespace

HostRun RunHost(const std::vector<std::string>& args, const std::string& input) {
  TempDir io;
  const std::string inPath = io.Write("in", input);
  std::string command = Quote(QORV_HOST_PATH);
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " <" + Quote(inPath) + " >" + Quote(io.File("out")) + " 2>" + Quote(io.File("err"));
  const int status = std::system(command.c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFile(io.File("out")),
          ReadFile(io.File("err"))};
}

int Lines(const std::string& text) {
  int lines = 0;
  for (char c : text) lines += c == '\n';
  return lines;
}

LiveHost::LiveHost(const std::vector<std::string>& args, const Setup& setup) {
  std::vector<std::string> argv = {QORV_HOST_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  int toHost[2] = {-1, -1}, fromHost[2] = {-1, -1}, answers[2] = {-1, -1};
  if (setup.answersApart && pipe(answers) != 0) return;
  if (setup.terminal) {
    int master = -1;
    pid_ = forkpty(&master, nullptr, nullptr, nullptr);
    in_ = out_ = master;
  } else {
    if (pipe(toHost) != 0 || pipe(fromHost) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(toHost[0], 0);
      dup2(fromHost[1], 1);
    }
    in_ = toHost[1];
    out_ = fromHost[0];
  }
  if (pid_ == 0) {
    if (setup.answersApart) dup2(answers[1], 1);
    for (int fd : {toHost[0], toHost[1], fromHost[0], fromHost[1], answers[0], answers[1]}) {
      if (fd >= 0) close(fd);
    }
    for (const std::string& setting : setup.environment) putenv(strdup(setting.c_str()));
    std::vector<char*> pointers;
    for (std::string& arg : argv) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    execv(pointers[0], pointers.data());
    _exit(127);
  }
  for (int fd : {toHost[0], fromHost[1], answers[1]}) {
    if (fd >= 0) close(fd);
  }
  answers_ = answers[0];
}

LiveHost::~LiveHost() {
  if (pid_ > 0 && !ended_) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  for (int fd : {in_, in_ != out_ ? out_ : -1, answers_}) {
    if (fd >= 0) close(fd);
  }
}

void LiveHost::Write(const std::string& text) const {
  ASSERT_EQ(write(in_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
}

std::string LiveHost::ReadUntil(const std::string& expected) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  std::size_t found;
  while ((found = seen_.find(expected, readFrom_)) == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    pollfd ready{out_, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    char chunk[4096];
    const ssize_t got = read(out_, chunk, sizeof chunk);
    if (got <= 0) break;  // ended (a terminal whose other side is gone gives EIO)
    seen_.append(chunk, static_cast<std::size_t>(got));
  }
  if (found != std::string::npos) readFrom_ = found + expected.size();
  return seen_;
}

int LiveHost::Wait() {
  int status = 0;
  for (int tick = 0; tick < 1000; ++tick) {
    if (waitpid(pid_, &status, WNOHANG) == pid_) {
      ended_ = true;
      return status;
    }
    usleep(10000);
  }
  kill(pid_, SIGKILL);
  waitpid(pid_, &status, 0);
  ended_ = true;
  ADD_FAILURE() << "qorv-host did not end; it wrote:\n" << seen_;
  return status;
}

std::string LiveHost::Answers() {
  std::string all;
  char chunk[4096];
  ssize_t got;
  while (answers_ >= 0 && (got = read(answers_, chunk, sizeof chunk)) > 0) {
    all.append(chunk, static_cast<std::size_t>(got));
  }
  return all;
}

void LiveHost::Interrupt() const { kill(pid_, SIGINT); }
