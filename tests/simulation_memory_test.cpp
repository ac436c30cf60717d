// The simulation's memory estimate against the resident size runs really
// reach, the check's threads and refusal, and its figures in words.
#include <gtest/gtest.h>

#include <string>

#include "arithmetic/extended_arithmetic.hpp"
#include "simulation/memory_need.hpp"
#include "simulation/simulation_runs.hpp"
#include "support/test_points.hpp"

namespace blocklevels::simulation {
namespace {

// The estimate is at least the resident size a run reaches (less 1 MB of
// the process's own noise) and at most half as much again (and the thread
// stacks' 8 MB, hardly any of it used): of the mu free chromosome slots a
// run writes those selection has needed at once, up to all of them.
TEST(SimulationMemory, EstimateBoundsTheResidentSizeRunsReach) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer's shadow memory and redzones add to the resident size";
#endif
  struct Case {
    PointParameters p;
    unsigned threads;
    std::uint64_t runs;
  };
  const Case cases[] = {
      {point_parameters(5000, 5000, 0.001L, 4, 0, 300, 100, 1), 1, 1},
      {point_parameters(20000, 200, 0.001L, 4, 0, 300, 100, 1), 1, 1},
      {point_parameters(200000, 1000, 0.02L, 2, 0, 100, 5, 1), 2, 2},
      {point_parameters(100, 50, 0.01L, 8, 0, 50, 20000, 1), 1, 1},
  };
  for (const Case& c : cases) {
    const std::uint64_t estimate = simulation_memory(c.p, c.threads, c.runs).bytes();
    const std::uint64_t growth = peak_resident_growth([&] {
      simulate_runs(c.p, 3, {c.runs, 0, 1}, c.threads);
    });
    EXPECT_GE(estimate + (1U << 20), growth) << "lambda " << c.p.lambda;
    EXPECT_LE(estimate, growth + growth / 2 + (1U << 20) + (c.threads - 1) * (8U << 20))
        << "lambda " << c.p.lambda << " estimate " << estimate << " growth " << growth;
  }
}

TEST(SimulationMemory, CheckRunsFewerThreadsOrRefuses) {
  const PointParameters p = point_parameters(1000, 100, 0.001L, 4, 0, 300, 1000, 1);
  const std::uint64_t one = simulation_memory(p, 1, 1).per_worker;
  const std::uint64_t stack = SimulationMemory::kThreadStack;
  ASSERT_GT(one, 7200000U);  // 1000 reports of 300 levels take 7.2 MB alone
  struct Case {
    unsigned threads;
    std::uint64_t runs, available;
    unsigned expected;
  };
  const Case cases[] = {{4, 10, 100 * one, 4},
                        {4, 2, 100 * one, 2},
                        {4, 10, 3 * one + 2 * stack, 3},
                        {4, 10, 3 * one + 2 * stack - 1, 2},
                        {4, 10, one, 1},
                        {4, 10, one - 1, 0},
                        {1, 1, 0, 0}};
  for (const Case& c : cases) {
    const MemoryCheck check = check_memory(p, c.threads, c.runs, c.available);
    EXPECT_EQ(check.threads, c.expected) << c.available;
    EXPECT_EQ(check.refused(), c.expected == 0);
    EXPECT_EQ(check.needed, c.expected == 0 ? one : c.expected * one + (c.expected - 1) * stack);
    EXPECT_EQ(check.stop_number(), 203);
    EXPECT_TRUE(c.expected == 0 || check.needed <= c.available);
  }
  // Two billion offspring need more than the 24 GB their records alone take.
  PointParameters huge = p;
  huge.lambda = 2000000000;
  EXPECT_TRUE(check_memory(huge, 1, 1, 24000000000).refused());
  EXPECT_GT(simulation_memory(huge, 1, 1).bytes(), 40000000000U);
}

TEST(SimulationMemory, FiguresInWordsNeverReadAsIfTheyFitted) {
  EXPECT_EQ((MemoryCheck{0, 24000000000, 18000000000}.words()), "needs 24 GB; 18 GB are available");
  EXPECT_EQ((MemoryCheck{0, 18000000001, 18999999999}.words()), "needs 19 GB; 18 GB are available");
  const struct {
    std::uint64_t bytes;
    const char *up, *down;
  } cases[] = {{0, "0 bytes", "0 bytes"},        {1, "1 byte", "1 byte"},
               {999, "999 bytes", "999 bytes"},  {1000, "1 kB", "1 kB"},
               {1550, "1.6 kB", "1.5 kB"},       {9999, "10 kB", "9.9 kB"},
               {10000, "10 kB", "10 kB"},        {999999, "1000 kB", "999 kB"},
               {1500000000, "1.5 GB", "1.5 GB"}, {~std::uint64_t{0}, "19 EB", "18 EB"}};
  for (const auto& c : cases) {
    EXPECT_EQ(bytes_in_words(c.bytes, true), c.up) << c.bytes;
    EXPECT_EQ(bytes_in_words(c.bytes, false), c.down) << c.bytes;
  }
}

}  // namespace
}  // namespace blocklevels::simulation
