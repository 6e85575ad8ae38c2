// Long runs: resident memory over 1,000,000 mixed requests, and over 200
// Open/Close cycles that import json and datetime and hold objects.
// usage: soak [REQUESTS [CYCLES]]; exits 1 when memory grows past the limits.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bench_plugin.h"
#include "support/memory.h"

namespace {

struct Step {
  const char* function;
  const char* parameters;
};

// One round of requests of every kind, failures included.
const Step kRound[] = {
    {"PyCallObject", "PYMOD=bench_tools PYOBJ=echo 'some text'"},
    {"PyRunSimpleString", "x = [1, 2, 3]"},
    {"PyRunSimpleString", "raise ValueError('soak')"},
    {"PyRunSimpleString", "import sys; sys.exit(1)"},
    {"PyRunSimpleFile", "bench_script.py"},
    {"PyRunSimpleFile", "missing.py"},
    {"PyCreateObject", "PYMOD=bench_tools PYOBJ=Box a b"},
    {"PyCallObjectMethod", "PYOBJ=soak PYOMD=size"},
    {"PyCreateObject", "PYMOD=bench_tools PYOBJ=Box SETID=soak"},
    {"PyCallObject", "PYMOD=no_such_module PYOBJ=f"},
    {"PyCallObject", "PYMOD=bench_tools PYOBJ=echo 'unterminated"},
    {"NoSuchRequest", "x"},
};
constexpr int kRoundSize = sizeof kRound / sizeof *kRound;

// Sends `count` requests; every object created with a generated id is removed.
void SendRequests(long count) {
  for (long i = 0; i < count; ++i) {
    const Step& step = kRound[i % kRoundSize];
    const char* answer = Send(step.function, step.parameters);
    if (std::strcmp(step.function, "PyCreateObject") == 0 && std::strncmp(answer, "o_", 2) == 0) {
      Send("PyRemoveObject", answer);
      ++i;
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  const long requests = argc > 1 ? std::atol(argv[1]) : 1000000;
  const int cycles = argc > 2 ? std::atoi(argv[2]) : 200;
  BenchPlugin();
  // The failures' tracebacks and the script paths are not what is measured.
  Send("PyRunSimpleString", "import os; sys.stderr = open(os.devnull, 'w')");
  if (std::freopen("/dev/null", "w", stdout) == nullptr) return 1;

  const long warmUp = requests / 10;
  SendRequests(warmUp);
  const long afterWarmUp = ResidentKiB();
  SendRequests(requests - warmUp);
  const long afterRequests = ResidentKiB();
  std::fprintf(stderr, "requests: %ld; resident after %ld: %ld KiB, at the end: %ld KiB (%+ld KiB)\n",
               requests, warmUp, afterWarmUp, afterRequests, afterRequests - afterWarmUp);

  PythonPlugin& plugin = BenchPlugin();
  long afterFirstCycles = 0;
  const int firstCycles = cycles / 10;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    plugin.Close();
    if (!plugin.Open(BenchDirectory())) return 1;
    Send("PyRunSimpleString", "import json, datetime; json.dumps([datetime.date.today().isoformat()])");
    Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box a");
    Send("PyCreateObject", "PYMOD=datetime PYOBJ=timedelta");
    if (std::strcmp(Send("PyCallObjectMethod", "PYOBJ=o_1 PYOMD=size"), "1") != 0) return 1;
    if (cycle + 1 == firstCycles) afterFirstCycles = ResidentKiB();
  }
  const long afterCycles = ResidentKiB();
  std::fprintf(stderr, "open/close cycles: %d; resident after %d: %ld KiB, at the end: %ld KiB (%+ld KiB, %.1f KiB a cycle)\n",
               cycles, firstCycles, afterFirstCycles, afterCycles, afterCycles - afterFirstCycles,
               cycles > firstCycles ? double(afterCycles - afterFirstCycles) / (cycles - firstCycles) : 0.0);
  plugin.Close();
  return afterRequests - afterWarmUp < 1024 ? 0 : 1;
}
