// The simulation's memory estimate next to the peak resident size a run
// really reaches (in a child process, from getrusage, less the size before
// the run): the simulated run of simulation_bench (lambda 1000, mu 100, 300
// blocks of 4, 1000 generations), four of them on two threads, and lambda
// 10^6, mu 10^5 over 3 generations. Counters in MB and their ratio.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "simulation/memory_need.hpp"
#include "simulation/simulation_runs.hpp"
#include "support/test_points.hpp"

namespace {

// state.range(0): the case.
void BM_MemoryEstimate(benchmark::State& state) {
  blocklevels::PointParameters p =
      blocklevels::point_parameters(1000, 100, 0.001L, 4, 0, 300, 1000, 1);
  unsigned threads = 1;
  std::uint64_t runs = 1;
  if (state.range(0) == 1) threads = 2, runs = 4;
  if (state.range(0) == 2) p.lambda = 1000000, p.mu = 100000, p.final_iteration = 3;
  std::uint64_t growth = 0;
  for (auto _ : state) {
    growth = blocklevels::peak_resident_growth([&] {
      blocklevels::simulation::simulate_runs(p, 1, {runs, 0, 1}, threads);
    });
  }
  const std::uint64_t estimate =
      blocklevels::simulation::simulation_memory(p, threads, runs).bytes();
  state.counters["estimate_MB"] = static_cast<double>(estimate) / 1e6;
  state.counters["peak_MB"] = static_cast<double>(growth) / 1e6;
  state.counters["estimate_over_peak"] =
      static_cast<double>(estimate) / static_cast<double>(growth);
}

BENCHMARK(BM_MemoryEstimate)->DenseRange(0, 2)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
