// The time from a stop requested from another thread to Cancelled, for one
// simulated run at lambda 10^6 (mu 10^5) and 3 10^6 (mu 3 10^5), 300 blocks
// of 4, pmut 0.001: requested 50 ms after the start (the population is
// being set up) and 1000 ms after it (in the generations). Target: at most
// 0.2 s. The benchmark's time is that time (manual time).
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdint>
#include <stop_token>
#include <thread>

#include "arithmetic/cancelled.hpp"
#include "bench_statistics.hpp"
#include "simulation/simulation_runs.hpp"

namespace {

// state.range(0): lambda; state.range(1): the delay in ms.
void BM_TimeToCancel(benchmark::State& state) {
  const auto lambda = static_cast<std::int32_t>(state.range(0));
  const blocklevels::PointParameters p{.lambda = lambda,
                                       .mu = lambda / 10,
                                       .Pmut = 0.001L,
                                       .block_length = 4,
                                       .two_option_positions = 0,
                                       .blocks = 300,
                                       .final_iteration = 100000,
                                       .step_generations = 1000};
  for (auto _ : state) {
    std::stop_source source;
    std::chrono::steady_clock::time_point requested;
    std::jthread requester([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(state.range(1)));
      requested = std::chrono::steady_clock::now();
      source.request_stop();
    });
    try {
      blocklevels::simulation::simulate_runs(p, 1, {1, 0, 1}, 1, nullptr, source.get_token());
      state.SkipWithError("the run ended before the stop");
    } catch (const blocklevels::Cancelled&) {
      requester.join();
      state.SetIterationTime(
          std::chrono::duration<double>(std::chrono::steady_clock::now() - requested).count());
    }
  }
}

BENCHMARK(BM_TimeToCancel)
    ->ArgsProduct({{1000000, 3000000}, {50, 1000}})
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->Apply(blocklevels::bench::with_spread);

}  // namespace

BENCHMARK_MAIN();
