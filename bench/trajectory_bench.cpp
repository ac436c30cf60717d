// Generations of a run that settles into a cycle: the tail vector at every
// generation up to 20000 (a report after each), l = 60, b = 1, lambda 10,
// mu 3, Pmut 0.9. The trajectory recognises the recurring vectors (period 2
// from generation 28 on) and answers from them; next to it, the same
// generations computed one by one, skipping only once a generation leaves
// the vector unchanged (a fixed point), which never happens here. The
// matrix is built once, outside the timing.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "bench_statistics.hpp"
#include "model/generation.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"

namespace {

constexpr std::int32_t kBlocks = 60, kLambda = 10, kMu = 3;
constexpr long double kPmut = 0.9L;
constexpr std::int64_t kGenerations = 20000;

const blocklevels::LevelMatrix& matrix() {
  static const blocklevels::LevelMatrix m =
      blocklevels::build_transition_matrix(kPmut, 1, 0, kBlocks);
  return m;
}

void BM_RecurringStatesSkipped(benchmark::State& state) {
  for (auto _ : state) {
    blocklevels::TailTrajectory trajectory(matrix(), kMu, kLambda);
    double sum = 0;
    for (std::int64_t t = 1; t <= kGenerations; ++t) sum += trajectory.at(t).back();
    benchmark::DoNotOptimize(sum);
    if (trajectory.period() != 2) state.SkipWithError("the run did not settle into period 2");
  }
}

void BM_FixedPointOnlySkipped(benchmark::State& state) {
  for (auto _ : state) {
    blocklevels::GenerationStep step(matrix(), kMu, kLambda);
    std::vector<double> tail(kBlocks);
    bool steady = false;
    double sum = 0;
    for (std::int64_t t = 1; t <= kGenerations; ++t) {
      if (!steady) steady = step.advance(tail.data());
      sum += tail.back();
    }
    benchmark::DoNotOptimize(sum);
  }
}

BENCHMARK(BM_RecurringStatesSkipped)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread);
BENCHMARK(BM_FixedPointOnlySkipped)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
