#include "support/child_process.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>

// Present only in builds with LeakSanitizer.
extern "C" int __lsan_do_recoverable_leak_check() __attribute__((weak));

void RunInChildProcess(const std::function<void()>& body, int timeoutSeconds) {
  std::fflush(nullptr);
  const pid_t child = fork();
  ASSERT_GE(child, 0) << std::strerror(errno);
  if (child == 0) {
    alarm(static_cast<unsigned>(timeoutSeconds));  // a hang ends as SIGALRM
    body();
    int status = ::testing::Test::HasFailure() ? 1 : 0;
    if (status == 0 && __lsan_do_recoverable_leak_check != nullptr &&
        __lsan_do_recoverable_leak_check() != 0) {
      status = 2;
    }
    std::fflush(nullptr);
    _exit(status);  // no static destructors: they belong to the parent
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  if (WIFSIGNALED(status)) {
    ADD_FAILURE() << "the child process died of signal " << WTERMSIG(status) << " ("
                  << strsignal(WTERMSIG(status)) << ")";
  } else {
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the child process failed (1: an assertion, 2: a leak)";
  }
}
