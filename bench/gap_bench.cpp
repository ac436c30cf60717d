// The geometric gap between mutated positions, per draw: from the double
// logarithm with its margin (GeometricGap, as the simulation draws it), and
// the literal extended quotient alone (what every draw took before), on the
// same 64-bit inputs; pmut 0.001 as in the simulated run of
// simulation_bench, and 10^-6 and 0.3. Counters: the draws, and how many of
// them the fast path sent to the literal evaluation.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <pcg_random.hpp>

#include "arithmetic/extended_arithmetic.hpp"
#include "bench_statistics.hpp"
#include "simulation/geometric_gap.hpp"
#include "simulation/mutation_positions.hpp"

namespace {

using blocklevels::simulation::GeometricGap;

constexpr int kDraws = 1 << 20;

long double pmut_of(const benchmark::State& state) {
  return state.range(0) == 0 ? 0.001L : state.range(0) == 1 ? 1e-6L : 0.3L;
}

// state.range(1): 1 the double logarithm with its margin, 0 the literal one.
void BM_GapDraw(benchmark::State& state) {
  const blocklevels::ExtendedArithmetic arithmetic;
  GeometricGap gap(blocklevels::simulation::log_one_minus(pmut_of(state)));
  const bool fast = state.range(1) == 1;
  std::uint64_t draws = 0;
  for (auto _ : state) {
    pcg32 rng(42, 7);
    std::uint64_t sum = 0;
    for (int n = 0; n < kDraws; ++n) {
      const std::uint64_t k = (std::uint64_t{rng()} << 32) | rng();
      sum += fast ? gap(k).length : gap.literal(k).length;
    }
    benchmark::DoNotOptimize(sum);
    draws += kDraws;
  }
  state.counters["ns_per_draw"] = benchmark::Counter(
      static_cast<double>(draws), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
  state.counters["literal_share"] =
      static_cast<double>(gap.fallbacks()) / static_cast<double>(draws);
}

BENCHMARK(BM_GapDraw)
    ->ArgsProduct({{0, 1, 2}, {1, 0}})
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
