// The search for a threshold at l = 300 (lambda 100, mu 10, blocks of 4)
// over 1000 generations: pmut in [1e-5, 1e-2] where Xtop crosses 0.5, with
// the default grid of 64 values and with a grid of 16. Targets: at most
// 5 s on one core, at most 40 model runs (the counter model_runs; the grid
// of 64 alone is 64 runs, so the run count is met with --find-grid 16).
//
//   blocklevels_threshold_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <string>

#include "bench_statistics.hpp"
#include "parameters/parameter_table.hpp"
#include "search/threshold_search.hpp"

namespace {

using namespace blocklevels;

Point bench_point() {
  Point point;
  const std::pair<const char*, const char*> values[] = {
      {"lambda", "100"},   {"mu", "10"},      {"pmut", "0.00001"}, {"block_length", "4"},
      {"two_option", "0"}, {"blocks", "300"}, {"final", "1000"},   {"step", "1"}};
  for (const auto& [name, text] : values) {
    set_parameter(point, *find_parameter(name), std::stold(text), text);
  }
  return point;
}

void BM_Threshold(benchmark::State& state) {
  const Point point = bench_point();
  ThresholdSearch search;
  search.parameter = find_parameter("pmut");
  search.low = 1e-5L;
  search.high = 1e-2L;
  search.condition = *parse_condition("Xtop=0.5");
  search.condition.value = 0.5L;
  search.grid = static_cast<std::int32_t>(state.range(0));
  std::int64_t runs = 0;
  for (auto _ : state) {
    const ThresholdResult result = find_thresholds(point, search);
    runs = result.model_runs;
    benchmark::DoNotOptimize(result.crossings.size());
  }
  state.counters["model_runs"] = static_cast<double>(runs);
}

BENCHMARK(BM_Threshold)
    ->Arg(64)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1)
    ->Apply(bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
