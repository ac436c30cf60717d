// Runs of the simulation at lambda 1000, mu 100, 300 blocks of 4, pmut 0.001,
// 1000 generations reported every generation: one run on one thread (target:
// at most 1 s), and four runs on one and on two threads (target: two threads
// take at most 0.65 of the time of one). Wall time is what matters for the
// threaded ones, so they are timed in real time; compare the medians of one
// invocation, since the machine is shared. bench/simulation_versus.sh times
// the one run against this benchmark built from the commit before offspring
// were kept as mutation lists (target: at most 0.7 of its time).
//
//   blocklevels_simulation_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_statistics.hpp"
#include "simulation/simulation_runs.hpp"
#include "support/test_points.hpp"

namespace {

using blocklevels::PointParameters;
using blocklevels::simulation::RunSet;
using blocklevels::simulation::RunTotals;

PointParameters bench_params() {
  return blocklevels::point_parameters(1000, 100, 0.001L, 4, 0, 300, 1000, 1);
}

// state.range(0) runs on state.range(1) threads.
void BM_Runs(benchmark::State& state) {
  const PointParameters params = bench_params();
  const auto runs = static_cast<std::uint64_t>(state.range(0));
  const auto threads = static_cast<unsigned>(state.range(1));
  std::uint64_t seed = 1;
  for (auto _ : state) {
    const RunTotals totals =
        blocklevels::simulation::simulate_runs(params, seed++, RunSet{runs, 0, 1}, threads);
    benchmark::DoNotOptimize(totals.sum_level(totals.reports() - 1));
  }
  state.counters["runs"] = static_cast<double>(runs);
  state.counters["threads"] = static_cast<double>(threads);
}

BENCHMARK(BM_Runs)
    ->Args({1, 1})
    ->Args({4, 1})
    ->Args({4, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1)
    ->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
