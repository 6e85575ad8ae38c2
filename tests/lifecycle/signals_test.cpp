// The host's signal dispositions stay the host's: nothing implicit changes
// them, Python code's own signal.signal calls last until Close, and Close
// gives every one back.
#include <Python.h>
#include <gtest/gtest.h>
#include <csignal>
#include <cstring>

#include <string>

#include "lifecycle/opened_plugin.h"

namespace {

void HostHandler(int) {}

const int kSignals[] = {SIGINT, SIGPIPE, SIGTERM, SIGCHLD};

struct HostDisposition {
  const char* name;
  void (*handler)(int);
};

const HostDisposition kDispositions[] = {
    {"default", SIG_DFL},
    {"ignore", SIG_IGN},
    {"handler", HostHandler},
};

void (*HandlerOf(int signal))(int) {
  struct sigaction action;
  sigaction(signal, nullptr, &action);
  return action.sa_handler;
}

class SignalsTest : public ::testing::TestWithParam<HostDisposition> {};

TEST_P(SignalsTest, StayTheHostsUnlessPythonCodeSetsThemUntilClose) {
  const HostDisposition host = GetParam();
  RunInChildProcess([host] {
    for (int number : kSignals) std::signal(number, host.handler);
    PluginRun run;
    ASSERT_TRUE(run.Open());
    // Importing these installs Python's SIGINT handler where the host has the
    // default; asyncio does not exist on Python 2.
    run.Run("import subprocess, signal, multiprocessing\n"
            "try:\n    import asyncio\nexcept ImportError:\n    pass");
    for (int signal : kSignals) EXPECT_EQ(HandlerOf(signal), host.handler) << strsignal(signal);

    // Explicit settings stay, also across later imports.
    run.Run("signal.signal(signal.SIGPIPE, signal.SIG_DFL)\n"
            "signal.signal(signal.SIGTERM, lambda number, frame: None)");
    run.Run("import json, decimal");
    EXPECT_EQ(HandlerOf(SIGPIPE), SIG_DFL);
    EXPECT_NE(HandlerOf(SIGTERM), host.handler);
    EXPECT_NE(HandlerOf(SIGTERM), SIG_DFL);
    EXPECT_EQ(HandlerOf(SIGINT), host.handler);
    EXPECT_EQ(HandlerOf(SIGCHLD), host.handler);

    EXPECT_TRUE(run.plugin.Close());
    for (int signal : kSignals) EXPECT_EQ(HandlerOf(signal), host.handler) << strsignal(signal);

    // A new run starts from the host's dispositions again.
    ASSERT_TRUE(run.Open());
    run.Run("import signal\nsignal.signal(signal.SIGINT, lambda number, frame: None)");
    EXPECT_NE(HandlerOf(SIGINT), host.handler);
    EXPECT_TRUE(run.plugin.Close());
    for (int signal : kSignals) EXPECT_EQ(HandlerOf(signal), host.handler) << strsignal(signal);
  });
}

INSTANTIATE_TEST_SUITE_P(HostHas, SignalsTest, ::testing::ValuesIn(kDispositions),
                         [](const auto& info) { return std::string(info.param.name); });

// A handler that the host sets after Open is the host's: Close leaves it, and
// so do the requests in between.
TEST(Signals, HandlersTheHostSetsDuringARunStay) {
  RunInChildProcess([] {
    std::signal(SIGTERM, SIG_DFL);
    std::signal(SIGUSR1, SIG_DFL);
    PluginRun run;
    ASSERT_TRUE(run.Open());
    std::signal(SIGTERM, HostHandler);
    run.Run("x = 1");
    run.Run("import signal\nsignal.signal(signal.SIGUSR1, lambda number, frame: None)");
    std::signal(SIGUSR2, HostHandler);  // after the signal module came
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_EQ(HandlerOf(SIGTERM), HostHandler);
    EXPECT_EQ(HandlerOf(SIGUSR2), HostHandler);
    EXPECT_EQ(HandlerOf(SIGUSR1), SIG_DFL);  // Python's, given back
  });
}

// Python's KeyboardInterrupt handler for SIGINT is undone after the request
// that put it there, however it came: an import, setting it explicitly, or
// asyncio.run, which sets and resets SIGINT on Python 3.11 and later.
struct InterruptCase {
  const char* name;
  const char* code;
};

const InterruptCase kInterruptCases[] = {
    {"Import", "import signal"},
    {"Explicit", "import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)"},
    {"ExplicitAgain",
     "import signal\nsignal.signal(signal.SIGINT, signal.default_int_handler)\n"
     "signal.signal(signal.SIGINT, signal.default_int_handler)"},
    {"AsyncioTwice",
     "import signal, sys\n"
     "if sys.version_info >= (3, 7):\n"
     "    exec('import asyncio\\nasync def nothing(): pass\\n'\n"
     "         'asyncio.run(nothing())\\nasyncio.run(nothing())')"},
};

class InterruptHandlerTest : public ::testing::TestWithParam<InterruptCase> {};

TEST_P(InterruptHandlerTest, IsUndoneAfterTheRequest) {
  const InterruptCase c = GetParam();
  RunInChildProcess([c] {
    std::signal(SIGINT, SIG_DFL);
    PluginRun run;
    ASSERT_TRUE(run.Open());
    for (int request = 0; request < 2; ++request) {
      run.Run(c.code);
      EXPECT_EQ(HandlerOf(SIGINT), SIG_DFL) << "request " << request;
    }
    // Python's record agrees, so that nothing puts its handler back unasked.
    run.Run("import signal\nassert signal.getsignal(signal.SIGINT) == signal.SIG_DFL");
    // A handler of Python code's own choosing is the run's until Close.
    run.Run("signal.signal(signal.SIGINT, lambda number, frame: None)");
    EXPECT_NE(HandlerOf(SIGINT), SIG_DFL);
    run.Run(c.code);
    EXPECT_TRUE(run.plugin.Close());
    EXPECT_EQ(HandlerOf(SIGINT), SIG_DFL);
  });
}

INSTANTIATE_TEST_SUITE_P(SetBy, InterruptHandlerTest, ::testing::ValuesIn(kInterruptCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
