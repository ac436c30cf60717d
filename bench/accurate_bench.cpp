// The accurate evaluation of the level model beside the literal one,
// through the prepared model run_model uses (the build included):
//   BM_Run: l = 300, b = 4, lambda 100, mu 10, Pmut 0.001, 1000
//     generations, one report at the end;
//   BM_Scan: 64 log-spaced Pmut over [1e-4, 0.1] at the threshold example's
//     settings (lambda 100, mu 70, b = 4, l = 50, 500 generations);
//   BM_Build: the build alone at l = 300.
// The argument is the arithmetic: 0 literal, 1 accurate. Compare the
// accurate/literal ratio of the medians of one run:
//
//   blocklevels_accurate_bench --benchmark_repetitions=5
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>

#include "bench_statistics.hpp"
#include "model/level_model.hpp"
#include "support/test_points.hpp"

namespace {

using namespace blocklevels;

struct LastTop final : ModelSink {
  double top = 0;
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override { top = tail.back(); }
};

Arithmetic arithmetic_of(const benchmark::State& state) {
  return state.range(0) == 0 ? Arithmetic::literal : Arithmetic::accurate;
}

PointParameters long_run(Arithmetic arithmetic) {
  return point_parameters(100, 10, 0.001L, 4, 0, 300, 1000, 1000, arithmetic);
}

void BM_Run(benchmark::State& state) {
  const PointParameters p = long_run(arithmetic_of(state));
  for (auto _ : state) {
    LastTop sink;
    run_model(p, sink);
    benchmark::DoNotOptimize(sink.top);
  }
}

void BM_Scan(benchmark::State& state) {
  PointParameters p = point_parameters(100, 70, 0.0L, 4, 0, 50, 500, 500, arithmetic_of(state));
  for (auto _ : state) {
    double sum = 0;
    for (int k = 0; k < 64; ++k) {
      p.Pmut = 1e-4L * std::pow(1000.0L, k / 63.0L);
      LastTop sink;
      run_model(p, sink);
      sum += sink.top;
    }
    benchmark::DoNotOptimize(sum);
  }
}

void BM_Build(benchmark::State& state) {
  const PointParameters p = long_run(arithmetic_of(state));
  for (auto _ : state) {
    const PreparedLevelModel model(p);
    benchmark::DoNotOptimize(&model);
  }
}

BENCHMARK(BM_Run)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(bench::with_spread);
BENCHMARK(BM_Scan)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(bench::with_spread);
BENCHMARK(BM_Build)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
