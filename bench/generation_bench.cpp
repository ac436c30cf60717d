// One generation at l = 300 with every level's selection shortfall non-zero,
// so that GenerationStep::advance sums all l terms of every column (it skips
// the levels whose shortfall is 0).
//
// mu = lambda makes the threshold mu / lambda = 1; the tail vector A is reset
// before every generation to the state one generation after the start (all
// values in [0, 1), checked below), because A drifts towards 1 as the run
// goes on. The reset copies 300 doubles and is timed with the generation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "bench_statistics.hpp"
#include "model/generation.hpp"
#include "model/params.hpp"
#include "model/transition_model.hpp"

namespace {

constexpr std::int32_t kBlocks = 300;
constexpr std::int32_t kLambda = 100;
constexpr std::int32_t kMu = kLambda;
constexpr long double kPmut = 0.01L;

void BM_Generation(benchmark::State& state) {
  blocklevels::Params params;
  params.Pmut = kPmut;
  params.block_length = 1;
  params.two_option_positions = 0;
  params.blocks = kBlocks;
  blocklevels::LevelModel model;
  blocklevels::build_model(params, 0.0L, params.Pmut, model);
  blocklevels::GenerationStep step(model, kMu, kLambda);
  step.advance(model);
  const auto size = static_cast<std::size_t>(kBlocks);
  const std::vector<double> start(model.A.data, model.A.data + size);

  std::int32_t active = 0;
  for (std::int32_t i = 1; i <= kBlocks; ++i) {
    if (blocklevels::selection_shortfall(kMu, kLambda, model.A.get(i)) != 0) ++active;
  }
  if (active != kBlocks) {
    state.SkipWithError("not every shortfall is non-zero in the start state");
    return;
  }

  std::int64_t unchanged = 0;
  for (auto _ : state) {
    std::memcpy(model.A.data, start.data(), size * sizeof(double));
    if (step.advance(model)) ++unchanged;
    benchmark::DoNotOptimize(model.A.data);
    benchmark::ClobberMemory();
  }
  if (unchanged != 0) state.SkipWithError("a generation left A unchanged");
  state.counters["l"] = kBlocks;
  state.counters["active_levels"] = active;
}

BENCHMARK(BM_Generation)->Unit(benchmark::kMicrosecond)->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
