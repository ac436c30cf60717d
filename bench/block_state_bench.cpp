// Runs of the block-state model: 1000 generations (one report, at the end)
// at lambda 1000, mu 100, blocks of 4 positions without two-option ones,
// l = 300 and l = 50, by independent blocks (the only evaluation at l = 300),
// Pmut 0.001, 0.01 and 0.05 (args: l, Pmut in thousandths). The targets:
// l = 300 in at most 2 s, l = 50 in at most 0.1 s. Beside them, the exact
// evaluation at l = 30, 30 generations, and the mutation part's build.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "bench_statistics.hpp"
#include "model/block_state_run.hpp"

namespace {

using blocklevels::BlockStateMethod;
using blocklevels::BlockStateMutation;

struct LastReport final : blocklevels::ModelSink {
  double top = 0;
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override { top = tail.back(); }
};

long double pmut_of(const benchmark::State& state) {
  return static_cast<long double>(state.range(1)) / 1000;
}

void run(benchmark::State& state, BlockStateMethod method, std::int32_t final) {
  const auto l = static_cast<std::int32_t>(state.range(0));
  const blocklevels::PointParameters p{.lambda = 1000,
                                       .mu = 100,
                                       .Pmut = pmut_of(state),
                                       .block_length = 4,
                                       .two_option_positions = 0,
                                       .blocks = l,
                                       .final_iteration = final,
                                       .step_generations = final};
  for (auto _ : state) {
    const BlockStateMutation mutation(p.Pmut, 4, 0, l, method);
    LastReport sink;
    blocklevels::run_block_state_model(mutation, p, sink);
    benchmark::DoNotOptimize(sink.top);
  }
  state.counters["l"] = l;
}

void BM_IndependentBlocks1000Generations(benchmark::State& state) {
  run(state, BlockStateMethod::independent_blocks, 1000);
}

void BM_Exact30Generations(benchmark::State& state) {
  run(state, BlockStateMethod::exact, 30);
}

void BM_BuildExactMutation(benchmark::State& state) {
  for (auto _ : state) {
    const BlockStateMutation mutation(0.01L, 4, 0, static_cast<std::int32_t>(state.range(0)),
                                      BlockStateMethod::exact);
    benchmark::DoNotOptimize(mutation.exact());
  }
}

BENCHMARK(BM_IndependentBlocks1000Generations)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Iterations(1)
    ->ArgsProduct({{300}, {1, 10, 50}});
BENCHMARK(BM_IndependentBlocks1000Generations)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Iterations(5)
    ->ArgsProduct({{50}, {1, 10, 50}});
BENCHMARK(BM_Exact30Generations)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Iterations(1)
    ->ArgsProduct({{30}, {10, 50}});
BENCHMARK(BM_BuildExactMutation)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread)
    ->Iterations(3)
    ->Args({30});

}  // namespace

BENCHMARK_MAIN();
