// A stop requested while a simulation sets up its population or runs a long
// generation: each step of the population tests the token, and a request
// from another thread ends simulate_runs within 0.2 s at lambda 10^6.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <thread>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "simulation/simulation_runs.hpp"
#include "support/test_points.hpp"

namespace blocklevels::simulation {
namespace {

// The least of three timings of `step`, in seconds; `prepare` runs before
// each, untimed.
template <class Prepare, class Step>
double least_seconds(Prepare prepare, Step step) {
  double least = 1e9;
  for (int n = 0; n < 3; ++n) {
    prepare();
    const auto begin = std::chrono::steady_clock::now();
    step();
    least = std::min(
        least, std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());
  }
  return least;
}

// With a stop requested, start(), breed() and select() each throw Cancelled
// before most of their work: in under a tenth of the time they take in full
// (milliseconds here, with 10000 parents of 1200 positions).
TEST(SimulationCancel, EveryStepOfThePopulationTestsTheTokenEarly) {
  const PointParameters p = point_parameters(20000, 20000, 0.001L, 4, 0, 300, 5, 1);
  const ExtendedArithmetic arithmetic;
  Population population(p);
  pcg32 rng(1, 1);
  std::stop_source source;
  source.request_stop();
  const std::stop_token stop = source.get_token();
  auto cancelled = [&](auto step) { return [&, step] { EXPECT_THROW(step(), Cancelled); }; };
  auto none = [] {};
  auto start = [&] { population.start(rng); };
  auto bred = [&] { population.start(rng), population.breed(rng); };
  population.start(rng);  // every page the steps write, written once
  for (int t = 0; t < 3; ++t) population.breed(rng), population.select(rng);
  const struct {
    const char* step;
    double full, stopped;
  } steps[] = {
      {"start", least_seconds(none, start),
       least_seconds(none, cancelled([&] { population.start(rng, stop); }))},
      {"breed", least_seconds(start, [&] { population.breed(rng); }),
       least_seconds(start, cancelled([&] { population.breed(rng, stop); }))},
      {"select", least_seconds(bred, [&] { population.select(rng); }),
       least_seconds(bred, cancelled([&] { population.select(rng, stop); }))},
  };
  for (const auto& s : steps) {
    EXPECT_LT(s.stopped * 10, s.full)
        << s.step << ": " << s.stopped << " s stopped, " << s.full << " s in full";
  }
}

// Started again after a stop, a run is the one an uncancelled population
// makes.
TEST(SimulationCancel, StartedAgainAfterAStopRunsAsAFreshPopulation) {
  const PointParameters p = point_parameters(3000, 600, 0.01L, 4, 0, 50, 5, 1);
  const ExtendedArithmetic arithmetic;
  Population population(p), fresh(p);
  pcg32 rng(1, 1);
  std::stop_source source;
  source.request_stop();
  population.start(rng);
  population.breed(rng);
  EXPECT_THROW(population.select(rng, source.get_token()), Cancelled);
  pcg32 fresh_rng(1, 2);
  rng = pcg32(1, 2);
  population.start(rng);
  fresh.start(fresh_rng);
  for (int t = 0; t < 3; ++t) {
    population.breed(rng);
    fresh.breed(fresh_rng);
    population.select(rng);
    fresh.select(fresh_rng);
  }
  for (std::int32_t k = 0; k < p.mu; ++k) {
    ASSERT_TRUE(std::ranges::equal(population.parent_alleles(k), fresh.parent_alleles(k))) << k;
  }
}

// Seconds from a request made `delay` after the start to Cancelled.
double seconds_to_cancel(const PointParameters& p, std::chrono::milliseconds delay) {
  std::stop_source source;
  std::chrono::steady_clock::time_point requested;
  std::jthread requester([&] {
    std::this_thread::sleep_for(delay);
    requested = std::chrono::steady_clock::now();
    source.request_stop();
  });
  try {
    simulate_runs(p, 1, {1, 0, 1}, 1, nullptr, source.get_token());
  } catch (const Cancelled&) {
    requester.join();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - requested).count();
  }
  return 1e9;  // ran to the end
}

// At lambda 10^6: while the 10^5 parents are first written (about a second
// here), and in the generations, where breeding takes most of the time.
TEST(SimulationCancel, StopsWithinAFifthOfASecondAtAMillionOffspring) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer's allocator marks the populations' memory as it allocates "
                  "it, for seconds at this size";
#endif
  const PointParameters setup = point_parameters(1000000, 100000, 0.001L, 4, 0, 300, 1000, 1);
  PointParameters breeding = setup;
  breeding.mu = 100;
  breeding.Pmut = 0.01L;
  for (const auto& [p, delay] : {std::pair{setup, 15}, {breeding, 150}, {breeding, 900}}) {
    EXPECT_LE(seconds_to_cancel(p, std::chrono::milliseconds(delay)), 0.2)
        << "mu " << p.mu << " after " << delay << " ms";
  }
}

}  // namespace
}  // namespace blocklevels::simulation
