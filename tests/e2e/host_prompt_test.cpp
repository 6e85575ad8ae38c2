// The prompt of `qorv-host -f -` on a pseudo-terminal: the banner, help and
// the ways out, standard output kept for answers, history shared by prompts,
// pasted blocks, and Ctrl-C.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "e2e/host_process.h"
#include "support/temp_dir.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// Keys as a terminal sends them. A paste comes between the bracketed-paste
// marks, which readline asks xterm for.
const char kUp[] = "\x1b[A";
std::string Pasted(const std::string& text) { return "\x1b[200~" + text + "\x1b[201~"; }

bool ExitedWith(int status, int code) { return WIFEXITED(status) && WEXITSTATUS(status) == code; }

class HostPrompt : public ::testing::Test {
 protected:
  LiveHost::Setup Terminal(bool answersApart = false) const {
    return {true, answersApart, {"TERM=xterm", "XDG_STATE_HOME=" + state.path()}};
  }
  std::string History() const { return ReadFile(state.File("qorv-host/history")); }

  TempDir state;
};

TEST_F(HostPrompt, BannerHelpAndTheWaysOut) {
  const char* const waysOut[] = {"exit\r", "quit\r", "  quit  \r", "\x04"};
  for (const char* wayOut : waysOut) {
    LiveHost host({"-f", "-"}, Terminal());
    const std::string banner = host.ReadUntil("qorv> ");
    EXPECT_THAT(banner, HasSubstr(QORV_PLUGIN_PATH));
    EXPECT_THAT(banner, HasSubstr("Python " QORV_PYTHON_MAJOR_MINOR "."));
    for (const char* way : {"Ctrl-D", "'exit'", "'quit'"}) EXPECT_THAT(banner, HasSubstr(way));
    host.Write("help\r");
    const std::string help = host.ReadUntil("qorv> ");
    for (const char* text : {"PyCallObjectMethod PYOBJ=id PYOMD=method", "PyRunSimpleFile", "quoted"}) {
      EXPECT_THAT(help, HasSubstr(text));
    }
    host.Write(wayOut);
    EXPECT_TRUE(ExitedWith(host.Wait(), 0)) << wayOut;
    EXPECT_THAT(host.seen(), Not(HasSubstr("NONE"))) << wayOut;
  }
}

// `qorv-host -f - | tee log` records the answers and what Python printed,
// not the prompt or the terminal's control sequences.
TEST_F(HostPrompt, StandardOutputCarriesOnlyTheAnswers) {
  LiveHost host({"-f", "-"}, Terminal(true));
  host.ReadUntil("qorv> ");
  host.Write("PyRunSimpleString print('hello')\r");
  host.ReadUntil("qorv> ");
  host.Write("NoSuchRequest x\r");
  EXPECT_THAT(host.ReadUntil("qorv> "), HasSubstr("no request is named 'NoSuchRequest'"));
  host.Write("exit\r");
  EXPECT_TRUE(ExitedWith(host.Wait(), 0));
  EXPECT_EQ(host.Answers(), "hello\nTRUE\nNONE\n");
}

TEST_F(HostPrompt, CtrlCDropsTheLineBeingTyped) {
  LiveHost host({"-f", "-"}, Terminal());
  host.ReadUntil("qorv> ");
  host.Write("PyRunSimpleString dropped = 1");
  host.ReadUntil("dropped = 1");
  host.Write("\x03");
  host.ReadUntil("^C");
  host.Write("PyRunSimpleString print('kept %s' % ('dropped' in globals()))\r");
  EXPECT_THAT(host.ReadUntil("TRUE"), HasSubstr("kept False"));
  host.ReadUntil("qorv> ");  // typed before the prompt, Ctrl-D could be lost
  host.Write("\x04");
  EXPECT_TRUE(ExitedWith(host.Wait(), 0)) << host.seen();
  EXPECT_THAT(History(), Not(HasSubstr("dropped = 1")));
}

// Each line is in the history file as soon as it is entered: a later prompt
// recalls it, two prompts at once keep both their lines, and a prompt that is
// killed loses none.
TEST_F(HostPrompt, HistoryIsKeptByPromptsOneAfterAnotherAndAtOnce) {
  {
    LiveHost first({"-f", "-"}, Terminal());
    first.ReadUntil("qorv> ");
    first.Write("PyRunSimpleString print('first prompt')\r");
    first.ReadUntil("qorv> ");
    first.Write("exit\r");
    EXPECT_TRUE(ExitedWith(first.Wait(), 0));
  }
  {
    LiveHost second({"-f", "-"}, Terminal());
    second.ReadUntil("qorv> ");
    second.Write(std::string(kUp) + kUp + "\r");  // past "exit"
    EXPECT_THAT(second.ReadUntil("TRUE"), HasSubstr("first prompt"));
    second.ReadUntil("qorv> ");
    second.Write("\x04");
    EXPECT_TRUE(ExitedWith(second.Wait(), 0));
  }

  // a is killed: its log goes where the test cleans up.
  LiveHost a({"--log-dir", state.path(), "-f", "-"}, Terminal());
  LiveHost b({"-f", "-"}, Terminal());
  a.ReadUntil("qorv> ");
  b.ReadUntil("qorv> ");
  for (auto [host, line] : {std::pair<LiveHost*, const char*>{&a, "PyRemoveObject a1"},
                            {&b, "PyRemoveObject b1"},
                            {&a, "PyRemoveObject a2"}}) {
    host->Write(std::string(line) + "\r");
    host->ReadUntil("qorv> ");
  }
  b.Write("\x04");
  EXPECT_TRUE(ExitedWith(b.Wait(), 0));
  kill(a.pid(), SIGKILL);
  a.Wait();
  const std::string history = History();
  const std::size_t a1 = history.find("\nPyRemoveObject a1\n");
  const std::size_t b1 = history.find("\nPyRemoveObject b1\n");
  const std::size_t a2 = history.find("\nPyRemoveObject a2\n");
  EXPECT_THAT(history, HasSubstr("print('first prompt')"));
  ASSERT_NE(a2, std::string::npos) << history;
  EXPECT_TRUE(a1 < b1 && b1 < a2) << history;
}

TEST_F(HostPrompt, HistoryKeepsTheLastThousandEntries) {
  std::string old;
  for (int i = 0; i < 1000; ++i) old += "PyRemoveObject old" + std::to_string(i) + "\n";
  state.Write("qorv-host/history", old);
  LiveHost host({"-f", "-"}, Terminal());
  host.ReadUntil("qorv> ");
  host.Write(kUp);  // the newest old line is there to recall
  host.ReadUntil("old999");
  host.Write("\x15PyRemoveObject new\r");  // Ctrl-U empties the line first
  host.ReadUntil("qorv> ");
  host.Write("\x04");
  EXPECT_TRUE(ExitedWith(host.Wait(), 0));
  // Compared without printing: the file is long.
  const std::string history = History();
  EXPECT_EQ(history.rfind("PyRemoveObject old1\n", 0), 0u) << history.substr(0, 100);
  EXPECT_EQ(history.find("PyRemoveObject old0\n"), std::string::npos);
  EXPECT_NE(history.find("\nPyRemoveObject new\n"), std::string::npos);
  int entries = 0;
  for (std::size_t at = 0; (at = history.find("PyRemoveObject ", at)) != std::string::npos; ++at) {
    ++entries;
  }
  EXPECT_EQ(entries, 1000);
}

// A pasted block of Python after PyRunSimpleString is one request; pasted
// request lines are requests of their own; the block is one history entry,
// and recalled it runs again.
TEST_F(HostPrompt, PastedBlockOfPythonIsOneRequest) {
  LiveHost host({"-f", "-"}, Terminal(true));
  host.ReadUntil("qorv> ");
  host.Write(Pasted("PyRunSimpleString for i in range(2):\r    print('line %d' % i)\r") + "\r");
  host.ReadUntil("qorv> ");
  host.Write(Pasted("PyRunSimpleString x = 5\rPyCallObject PYMOD=os.path PYOBJ=join a b\r") +
             "\r");
  host.ReadUntil("qorv> ");
  host.Write(std::string(kUp) + kUp + "\r");
  host.ReadUntil("qorv> ");
  host.Write("exit\r");
  EXPECT_TRUE(ExitedWith(host.Wait(), 0)) << host.seen();
  EXPECT_EQ(host.Answers(), "line 0\nline 1\nTRUE\nTRUE\na/b\nline 0\nline 1\nTRUE\n");
}

// Ctrl-C while a request runs stops that request and the prompt goes on with
// the names it had; a second Ctrl-C within a second ends qorv-host.
TEST_F(HostPrompt, CtrlCStopsTheRunningRequest) {
  LiveHost host({"-f", "-"}, Terminal());
  host.ReadUntil("qorv> ");
  host.Write("PyRunSimpleString import os, time; before = 1; n = [0]\r");
  host.ReadUntil("TRUE");
  host.Write("PyRunSimpleString while True: n[0] += 1; time.sleep(0.01)\r");
  host.ReadUntil("time.sleep(0.01)");
  usleep(300000);
  host.Write("\x03");
  EXPECT_THAT(host.ReadUntil("FALSE"), HasSubstr("qorv_python: PyRunSimpleString: "));
  host.Write("PyRunSimpleString sys.stdout.write('names kept %d %s\\n' % (before, n[0] > 0))\r");
  EXPECT_THAT(host.ReadUntil("TRUE"), HasSubstr("names kept 1 True"));

  // A request that outlives being asked to stop: blocked in a read that no
  // signal breaks, and deaf to KeyboardInterrupt.
  host.Write(
      "PyRunSimpleString exec(\"r, w = os.pipe()\\nwhile True:\\n  try: os.read(r, 1)\\n"
      "  except BaseException: pass\")\r");
  host.ReadUntil("pass\")");
  usleep(300000);
  host.Write("\x03");
  usleep(200000);
  host.Write("\x03");
  const int status = host.Wait();
  EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGINT) << host.seen();
}

}  // namespace
