// Time to build the transition matrix: the program's build (O(l^3)) at
// l = 50, 100, 300 and 1000, and the literal evaluation of the same matrix
// (every power and binomial recomputed where it is used, O(l^5)) at l = 50
// and 100. Shape: block length 1, no two-option positions, Pmut 0.01.
//
// The model's containers are never released (the program builds one model
// per run), so every iteration leaves its matrix behind, and each build, like
// the program's, fills fresh memory. The iteration counts are therefore fixed.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_statistics.hpp"
#include "model/params.hpp"
#include "model/transition_model.hpp"
#include "support/reference_model.hpp"

namespace {

constexpr long double kPmut = 0.01L;

blocklevels::Params shape(std::int32_t l) {
  blocklevels::Params p;
  p.Pmut = kPmut;
  p.block_length = 1;
  p.two_option_positions = 0;
  p.blocks = l;
  return p;
}

std::int32_t blocks_of(const benchmark::State& state) {
  return static_cast<std::int32_t>(state.range(0));
}

void BM_BuildModel(benchmark::State& state) {
  const blocklevels::Params params = shape(blocks_of(state));
  for (auto _ : state) {
    blocklevels::LevelModel model;
    blocklevels::build_model(params, 0.0L, params.Pmut, model);
    benchmark::DoNotOptimize(model.M.rows);
    benchmark::ClobberMemory();
  }
  state.counters["l"] = static_cast<double>(params.blocks);
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

// Fixed iteration counts: about 40 MB of abandoned containers per repetition
// in all.
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
