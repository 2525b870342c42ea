// Substring search speed: the plain Horspool search that the design names against the
// vector filter the search run uses, short and long patterns, exact and folded.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "FastStrings.h"
#include "LineMatcher.h"
#include "PatternScanner.h"

namespace {

std::string Haystack() {
  static const std::string text = [] {
    std::mt19937 rng(1);
    const std::string words[] = {"static ", "int ", "return ", "struct ", "device", "_id",
                                 "(",       ");\n", "pm_ops",  " = ",     "NULL",   "if ",
                                 "{\n",     "}\n",  "->",      "data"};
    std::string s;
    while (s.size() < (size_t{1} << 20)) s += words[rng() % std::size(words)];
    return s;
  }();
  return text;
}

const char* Pattern(int64_t kind) {
  return kind == 0 ? "PM_RESUME" : "device_suspend_late_noirq_handler";
}

void Horspool(benchmark::State& state) {
  const std::string text = Haystack();
  const bool caseSensitive = state.range(1) != 0;
  for (auto _ : state)
    benchmark::DoNotOptimize(
        vorn::FindPattern(Pattern(state.range(0)), text, caseSensitive, 1, true));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

void VectorFilter(benchmark::State& state) {
  const std::string text = Haystack();
  const vorn::PatternScanner scanner(Pattern(state.range(0)),
                                     state.range(1) ? nullptr : &vorn::CaseInsensitiveKeys());
  for (auto _ : state) benchmark::DoNotOptimize(scanner.Find(text, 0));
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * text.size()));
}

}  // namespace

// Arguments: pattern (0 short, 1 long), case-sensitive (1) or folded (0).
BENCHMARK(Horspool)->ArgsProduct({{0, 1}, {1, 0}});
BENCHMARK(VectorFilter)->ArgsProduct({{0, 1}, {1, 0}});
BENCHMARK_MAIN();
