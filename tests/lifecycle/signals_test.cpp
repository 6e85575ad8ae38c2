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

}  // namespace
