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

namespace blocklevels::simulation {
namespace {

TEST(SimulationCancel, EveryStepOfThePopulationTestsTheToken) {
  const PointParameters p{.lambda = 3000,
                          .mu = 600,
                          .Pmut = 0.01L,
                          .block_length = 4,
                          .blocks = 50,
                          .final_iteration = 5,
                          .step_generations = 1};
  const ExtendedArithmetic arithmetic;
  Population population(p);
  pcg32 rng(1, 1);
  std::stop_source source;
  source.request_stop();
  EXPECT_THROW(population.start(rng, source.get_token()), Cancelled);
  population.start(rng);
  EXPECT_THROW(population.breed(rng, source.get_token()), Cancelled);
  population.breed(rng);
  EXPECT_THROW(population.select(rng, source.get_token()), Cancelled);
  // Started again, the run is the one an uncancelled population makes.
  Population fresh(p);
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
  const PointParameters setup{.lambda = 1000000,
                              .mu = 100000,
                              .Pmut = 0.001L,
                              .block_length = 4,
                              .blocks = 300,
                              .final_iteration = 1000,
                              .step_generations = 1};
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
