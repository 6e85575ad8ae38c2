// The text parsers: cost per byte, and linear growth with the input.
#include <benchmark/benchmark.h>

#include <string>

#include "config/settings_file.h"
#include "requests/request_args.h"

namespace {

std::string Tokens(std::int64_t count) {
  std::string text;
  text.reserve(static_cast<std::size_t>(count) * 4);
  for (std::int64_t i = 0; i < count; ++i) text += "ab ";
  return text;
}

// Positional tokens: 1,000,000 should cost about twice 500,000. Parsed into
// one reused record, as the dispatcher does.
void BM_ParseParameters(benchmark::State& state) {
  const std::string text = Tokens(state.range(0));
  RequestArgs args;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ParseParameters(text.c_str(), &args));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
  state.SetComplexityN(state.range(0));
}
BENCHMARK(BM_ParseParameters)->Arg(500000)->Arg(1000000)->Unit(benchmark::kMillisecond)
    ->Complexity(benchmark::oN);

void BM_ParseTypicalRequest(benchmark::State& state) {
  const char* text = "PYMOD=tools PYOBJ=greet 'a b' 42";
  RequestArgs args;
  for (auto _ : state) benchmark::DoNotOptimize(ParseParameters(text, &args));
}
BENCHMARK(BM_ParseTypicalRequest);

// One line of 10 MiB, and 100,000 short lines.
void BM_SettingsLongLine(benchmark::State& state) {
  const std::string text = "[s]\nk=" + std::string(10 * 1024 * 1024, 'v') + "\n";
  for (auto _ : state) {
    SettingsFile settings;
    settings.LoadText(text);
    benchmark::DoNotOptimize(settings.HasKey("s", "k"));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_SettingsLongLine)->Unit(benchmark::kMillisecond);

void BM_SettingsManyLines(benchmark::State& state) {
  std::string text = "[QORV_PYTHON]\n";
  for (int i = 0; i < state.range(0); ++i) text += "key" + std::to_string(i) + "=value # note\n";
  for (auto _ : state) {
    SettingsFile settings;
    settings.LoadText(text);
    benchmark::DoNotOptimize(settings.HasKey("QORV_PYTHON", "key1"));
  }
  state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_SettingsManyLines)->Arg(50000)->Arg(100000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
