// One generation at l = 300 with every level's selection shortfall non-zero,
// so that GenerationStep::advance takes every level (it skips the levels
// whose shortfall is 0, and the terms outside each column's band).
//
// And a run's 1000 generations at l = 300, the matrix build included: b = 1,
// lambda 100, mu 10, Pmut 0.01, as end_to_end.sh's case (a) (every one of
// the 1000 generations changes the vector). bench/versus.sh times it next
// to the same benchmark built from an earlier commit.
//
// mu = lambda makes the threshold mu / lambda = 1; the tail vector is reset
// before every generation to the state one generation after the start (all
// values in [0, 1), checked below), because it drifts towards 1 as the run
// goes on. The reset copies 300 doubles and is timed with the generation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "arithmetic/extended_arithmetic.hpp"
#include "bench_statistics.hpp"
#include "model/generation.hpp"
#include "model/transition_model.hpp"

namespace {

constexpr std::int32_t kBlocks = 300;
constexpr std::int32_t kLambda = 100;
constexpr std::int32_t kMu = kLambda;
constexpr long double kPmut = 0.01L;

void BM_Generation(benchmark::State& state) {
  const blocklevels::LevelMatrix m = blocklevels::build_transition_matrix(kPmut, 1, 0, kBlocks);
  blocklevels::GenerationStep step(m, kMu, kLambda);
  const auto size = static_cast<std::size_t>(kBlocks);
  std::vector<double> tail(size);
  step.advance(tail.data());
  const std::vector<double> start = tail;

  std::int32_t active = 0;
  for (std::int32_t i = 1; i <= kBlocks; ++i) {
    if (blocklevels::selection_shortfall(kMu, kLambda, tail[static_cast<std::size_t>(i - 1)]) != 0)
      ++active;
  }
  if (active != kBlocks) {
    state.SkipWithError("not every shortfall is non-zero in the start state");
    return;
  }

  std::int64_t unchanged = 0;
  for (auto _ : state) {
    std::memcpy(tail.data(), start.data(), size * sizeof(double));
    if (step.advance(tail.data())) ++unchanged;
    benchmark::DoNotOptimize(tail.data());
    benchmark::ClobberMemory();
  }
  if (unchanged != 0) state.SkipWithError("a generation left A unchanged");
  state.counters["l"] = kBlocks;
  state.counters["active_levels"] = active;
}

BENCHMARK(BM_Generation)->Unit(benchmark::kMicrosecond)->Apply(blocklevels::bench::with_spread);

void BM_Generations1000(benchmark::State& state) {
  const blocklevels::ExtendedArithmetic arithmetic;
  double last = 0;
  for (auto _ : state) {
    const blocklevels::LevelMatrix m = blocklevels::build_transition_matrix(kPmut, 1, 0, kBlocks);
    blocklevels::GenerationStep step(m, 10, kLambda);
    std::vector<double> tail(static_cast<std::size_t>(kBlocks));
    for (int g = 0; g < 1000; ++g) step.advance(tail.data());
    last = tail.back();
    benchmark::DoNotOptimize(tail.data());
  }
  state.counters["top_level"] = last;
}

BENCHMARK(BM_Generations1000)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(5)
    ->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
