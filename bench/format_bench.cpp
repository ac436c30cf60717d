// Throughput of format_fixed, in numbers per second, for the two layouts the
// reports use: (width 10, 6 decimals) in the output file and (3, 3) on the
// console. Next to it, snprintf with "%.6Lf" and "%.3Lf" on the same values.
// The values are a fixed array of 4096 extended numbers in [0, 1) from a
// seeded generator, the same in every run.
#include <benchmark/benchmark.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "bench_statistics.hpp"
#include "text/number_text.hpp"

namespace {

constexpr std::size_t kValueCount = 4096;

const std::vector<long double>& values() {
  static const std::vector<long double> v = [] {
    std::mt19937_64 generator(20240601);
    std::vector<long double> out(kValueCount);
    for (long double& x : out) {
      // 64 random bits scaled by 2^-64: exact in extended precision, in [0, 1).
      x = static_cast<long double>(generator()) * 0x1p-64L;
    }
    return out;
  }();
  return v;
}

void BM_FormatFixed(benchmark::State& state) {
  const int width = static_cast<int>(state.range(0));
  const int decimals = static_cast<int>(state.range(1));
  const std::vector<long double>& v = values();
  char text[blocklevels::kFixedTextCapacity];
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const long double x : v) {
      bytes += blocklevels::format_fixed(text, x, width, decimals);
      benchmark::DoNotOptimize(text);
    }
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(v.size()));
}

void BM_Snprintf(benchmark::State& state) {
  const char* format = state.range(0) == 6 ? "%.6Lf" : "%.3Lf";
  const std::vector<long double>& v = values();
  char text[64];
  std::size_t bytes = 0;
  for (auto _ : state) {
    for (const long double x : v) {
      bytes += static_cast<std::size_t>(std::snprintf(text, sizeof text, format, x));
      benchmark::DoNotOptimize(text);
    }
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(v.size()));
}

BENCHMARK(BM_FormatFixed)
    ->Unit(benchmark::kMicrosecond)
    ->Apply(blocklevels::bench::with_spread)
    ->ArgNames({"width", "decimals"})
    ->Args({10, 6})
    ->Args({3, 3});
BENCHMARK(BM_Snprintf)
    ->Unit(benchmark::kMicrosecond)
    ->Apply(blocklevels::bench::with_spread)
    ->ArgNames({"decimals"})
    ->Arg(6)
    ->Arg(3);

}  // namespace

BENCHMARK_MAIN();
