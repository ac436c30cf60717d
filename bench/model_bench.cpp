// Time to build the transition matrix: the program's build (O(l^3)) at
// l = 50, 100, 300 and 1000, and the literal evaluation of the same matrix
// (every power and binomial recomputed where it is used, O(l^5)) at l = 50
// and 100. Shape: block length 1, no two-option positions, Pmut 0.01.
//
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_statistics.hpp"
#include "model/transition_model.hpp"
#include "support/reference_model.hpp"

namespace {

constexpr long double kPmut = 0.01L;

std::int32_t blocks_of(const benchmark::State& state) {
  return static_cast<std::int32_t>(state.range(0));
}

void BM_BuildModel(benchmark::State& state) {
  const std::int32_t l = blocks_of(state);
  for (auto _ : state) {
    const blocklevels::LevelMatrix m = blocklevels::build_transition_matrix(kPmut, 1, 0, l);
    benchmark::DoNotOptimize(m.stored(l, l));
    benchmark::ClobberMemory();
  }
  state.counters["l"] = static_cast<double>(l);
}

void BM_LiteralMatrix(benchmark::State& state) {
  const blocklevels::reference::Shape literal_shape{1, 0, blocks_of(state)};
  for (auto _ : state) {
    std::vector<double> m = blocklevels::reference::matrix(literal_shape, kPmut);
    benchmark::DoNotOptimize(m.data());
    benchmark::ClobberMemory();
  }
  state.counters["l"] = static_cast<double>(literal_shape.l);
}

BENCHMARK(BM_BuildModel)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({50})
    ->Iterations(200);
BENCHMARK(BM_BuildModel)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({100})
    ->Iterations(100);
BENCHMARK(BM_BuildModel)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({300})
    ->Iterations(15);
BENCHMARK(BM_BuildModel)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({1000})
    ->Iterations(2);
BENCHMARK(BM_LiteralMatrix)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({50})
    ->Iterations(1);
BENCHMARK(BM_LiteralMatrix)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Args({100})
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
