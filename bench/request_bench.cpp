// Request costs against floors measured in the same run: the same Python work
// done straight on the C API. The call's argument changes on every call, in
// the plugin's text and in the floor's string alike. After the runs, the
// ratios to the floors are printed (medians, with --benchmark_repetitions).
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "bench_plugin.h"
#include "plugin/turn.h"

namespace {

void BM_CallFloor(benchmark::State& state) {
  Floor floor;
  char text[32];
  VaryingText argument(text, "");
  floor.HoldLock();
  for (auto _ : state) {
    argument.Next();
    floor.Call(argument.digits(), argument.digitCount(), false);
    benchmark::DoNotOptimize(floor.answer().data());
  }
  floor.ReleaseLock();
}
BENCHMARK(BM_CallFloor);

// The floor that a host serving several threads pays: the same call, with
// Python's lock taken and given back around each one.
void BM_CallFloorWithLock(benchmark::State& state) {
  Floor floor;
  char text[32];
  VaryingText argument(text, "");
  for (auto _ : state) {
    argument.Next();
    floor.Call(argument.digits(), argument.digitCount(), true);
    benchmark::DoNotOptimize(floor.answer().data());
  }
}
BENCHMARK(BM_CallFloorWithLock);

// The same call as a request through HandleRequest.
void BM_PyCallObject(benchmark::State& state) {
  PythonPlugin& plugin = BenchPlugin();
  char* const buffer = HostBuffer();
  VaryingText text(buffer, "PYMOD=bench_tools PYOBJ=echo ");
  text.Next();
  if (std::strcmp(plugin.HandleRequest("", "PyCallObject", buffer), "1") != 0) std::abort();
  for (auto _ : state) {
    text.Next();
    benchmark::DoNotOptimize(plugin.HandleRequest("", "PyCallObject", buffer));
  }
}
BENCHMARK(BM_PyCallObject);

void BM_MethodFloorWithLock(benchmark::State& state) {
  Floor floor;
  for (auto _ : state) {
    floor.CallMethod(true);
    benchmark::DoNotOptimize(floor.answer().data());
  }
}
BENCHMARK(BM_MethodFloorWithLock);

void BM_PyCallObjectMethod(benchmark::State& state) {
  if (std::strcmp(Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box SETID=box a"), "box") != 0) {
    std::abort();
  }
  for (auto _ : state) {
    std::memcpy(HostBuffer(), "PYOBJ=box PYOMD=size", sizeof "PYOBJ=box PYOMD=size");
    benchmark::DoNotOptimize(SendBuffer("PyCallObjectMethod"));
  }
  Send("PyRemoveObject", "box");
}
BENCHMARK(BM_PyCallObjectMethod);

void BM_CreateFloorWithLock(benchmark::State& state) {
  Floor floor;
  for (auto _ : state) floor.CreateAndDrop(true);
}
BENCHMARK(BM_CreateFloorWithLock);

// Each request holds a new object under the same id, and the one held before
// goes: a create and a release, as in the floor.
void BM_PyCreateObject(benchmark::State& state) {
  for (auto _ : state) {
    std::memcpy(HostBuffer(), "PYMOD=bench_tools PYOBJ=Box SETID=b", sizeof "PYMOD=bench_tools PYOBJ=Box SETID=b");
    benchmark::DoNotOptimize(SendBuffer("PyCreateObject"));
  }
  Send("PyRemoveObject", "b");
}
BENCHMARK(BM_PyCreateObject);

// Creating (and removing again) one object with a generated id: below the
// cap in a fresh run, and past it with 30,000 objects held, where each new id
// is the lowest free one (here o_0).
constexpr int kCreations = 20000;

void CreateAndRemove(benchmark::State& state) {
  for (auto _ : state) {
    const std::string id = Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box");
    Send("PyRemoveObject", id);
  }
}

void BM_CreateBelowCap(benchmark::State& state) {
  ReopenBenchPlugin();
  CreateAndRemove(state);
}
BENCHMARK(BM_CreateBelowCap)->Iterations(kCreations);

void BM_CreatePastCapWith30000Held(benchmark::State& state) {
  ReopenBenchPlugin();
  for (int i = 0; i < 30000; ++i) Send("PyCreateObject", "PYMOD=bench_tools PYOBJ=Box");
  CreateAndRemove(state);
  ReopenBenchPlugin();
}
BENCHMARK(BM_CreatePastCapWith30000Held)->Iterations(kCreations);

// What serving requests one at a time costs each request: the turn's lock
// taken and given back, with no one else waiting.
void BM_Turn(benchmark::State& state) {
  Turn turn;
  for (auto _ : state) {
    turn.lock();
    benchmark::ClobberMemory();
    turn.unlock();
  }
}
BENCHMARK(BM_Turn);

// Prints the ratios of the runs to their floors after the console's report.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  explicit RatioReporter(OutputOptions options) : ConsoleReporter(options) {}

  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& run : runs) {
      // Medians when repeated, else the one run.
      if (run.run_type == Run::RT_Aggregate && run.aggregate_name != "median") continue;
      nanoseconds_[run.run_name.function_name] = run.GetAdjustedRealTime();
    }
  }
  void Finalize() override {
    ConsoleReporter::Finalize();
    const struct {
      const char* what;
      const char* run;
      const char* floor;
    } ratios[] = {
        {"PyCallObject / call floor with the lock", "BM_PyCallObject", "BM_CallFloorWithLock"},
        {"PyCallObject / call floor", "BM_PyCallObject", "BM_CallFloor"},
        {"PyCallObjectMethod / method floor with the lock", "BM_PyCallObjectMethod", "BM_MethodFloorWithLock"},
        {"PyCreateObject / create floor with the lock", "BM_PyCreateObject", "BM_CreateFloorWithLock"},
        {"past the cap with 30,000 held / below the cap", "BM_CreatePastCapWith30000Held", "BM_CreateBelowCap"},
    };
    for (const auto& ratio : ratios) {
      const auto run = nanoseconds_.find(ratio.run);
      const auto floor = nanoseconds_.find(ratio.floor);
      if (run == nanoseconds_.end() || floor == nanoseconds_.end() || floor->second <= 0) continue;
      std::printf("ratio: %-50s %5.2f  (%.0f ns / %.0f ns)\n", ratio.what, run->second / floor->second,
                  run->second, floor->second);
    }
  }

 private:
  std::map<std::string, double> nanoseconds_;
};

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  BenchPlugin();
  RatioReporter reporter(isatty(STDOUT_FILENO) ? benchmark::ConsoleReporter::OO_Defaults
                                              : benchmark::ConsoleReporter::OO_Tabular);
  benchmark::RunSpecifiedBenchmarks(&reporter);
  benchmark::Shutdown();
  BenchPlugin().Close();
  return 0;
}
