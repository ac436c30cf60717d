// The accurate evaluation's parts: its point transitions against the
// literal cumulative matrix, its recurring states, its stops, and the
// prepared model that both evaluations share.
#include "model/level_model.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "model/point_trajectory.hpp"
#include "model/transition_model.hpp"
#include "model/transition_terms.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

PointParameters accurate(std::int32_t lambda, std::int32_t mu, long double pmut, std::int32_t b,
                         std::int32_t acc, std::int32_t l, std::int32_t final, std::int32_t step) {
  return point_parameters(lambda, mu, pmut, b, acc, l, final, step, Arithmetic::accurate);
}

std::string describe(const PointParameters& p) {
  std::ostringstream out;
  out << "b=" << p.block_length << " acc=" << p.two_option_positions << " l=" << p.blocks
      << " Pmut=" << std::hexfloat << p.Pmut << " mu=" << p.mu << " lambda=" << p.lambda;
  return out.str();
}

// Fixed-seed shapes and Pmut over [0, 1], its ends included: the sums
// T[i][j] + ... + T[i][l] are the literal matrix's M[i][j] (each of them a
// sum of positive terms rounded once to double) to 1e-14 of it, both
// survival formulas included; for j <= i, where they differ, to 1e-14 of
// M[i][j] + M[i][i + 1], the bound of T[i][i]'s correction (M[i][i] may be
// far below M[i][i + 1] there). Below the double range M keeps 1e-320.
TEST(PointTransitions, SumToTheLiteralCumulativeMatrix) {
  std::mt19937_64 random(20261208);
  for (int n = 0; n < 200; ++n) {
    PointParameters p = accurate(1, 1, 0, 1, 0, 1, 1, 1);
    p.block_length = std::uniform_int_distribution<std::int32_t>(1, 8)(random);
    p.two_option_positions = std::uniform_int_distribution<std::int32_t>(0, p.block_length)(random);
    p.blocks = std::uniform_int_distribution<std::int32_t>(1, 40)(random);
    const double scale = std::pow(10.0, std::uniform_real_distribution<double>(-6, 0)(random));
    p.Pmut = n % 20 == 0 ? 0.0L : n % 20 == 1 ? 1.0L : static_cast<long double>(scale);
    const ExtendedArithmetic arithmetic;
    const PointTransitions t =
        build_point_transitions(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
    const LevelMatrix m =
        build_transition_matrix(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
    for (std::int32_t i = 0; i <= p.blocks; ++i) {
      long double sum = 0;
      for (std::int32_t j = p.blocks; j >= 1; --j) {
        sum += t.at(i, j);
        const long double literal = m.get(i, j);
        const long double rising = j <= i && i < p.blocks ? m.get(i, i + 1) : 0.0L;
        ASSERT_LE(std::fabs(sum - literal), 1e-14L * (literal + rising) + 1e-320L)
            << describe(p) << " M[" << i << "][" << j << "] " << literal << " sums to " << sum;
      }
    }
  }
}

// Runs that settle into a fixed point or a cycle of the extended states:
// the reported tails answered from the recorded period equal computing
// every generation.
TEST(PointTrajectory, RecurringStatesGiveEveryGenerationsTails) {
  struct Recurring {
    PointParameters p;
    std::int64_t period;
  };
  const Recurring cases[] = {
      {accurate(10, 5, 0.3L, 1, 0, 1, 1, 1), 1},
      {accurate(11, 4, 0.8L, 4, 1, 17, 1, 1), 5},
      {accurate(246, 167, 0xa.3a5786e1d96a8p-5L, 5, 1, 5, 1, 1), 4},
      {accurate(10, 3, 0.9L, 1, 0, 60, 1, 1), 2},
  };
  for (const auto& [p, period] : cases) {
    const ExtendedArithmetic arithmetic;
    const PointTransitions t =
        build_point_transitions(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
    PointTrajectory trajectory(t, p.mu, p.lambda);
    PointGeneration step(t, p.mu, p.lambda);
    PointState every(static_cast<std::size_t>(p.blocks));
    for (std::int64_t g = 1; g <= 1500; ++g) {
      step.advance(every);
      if (g % 7 != 0 && g % 11 != 0) continue;  // reports at uneven times
      const std::span<const double> skipped = trajectory.at(g);
      for (std::size_t j = 0; j < skipped.size(); ++j) {
        ASSERT_EQ(skipped[j], static_cast<double>(every.tails[j])) << describe(p) << " t=" << g;
      }
    }
    EXPECT_EQ(trajectory.period(), period) << describe(p);
  }
}

int stop_of(const PointParameters& p) {
  ReportedTails ignored;
  try {
    run_model(p, ignored);
  } catch (const Stop& stop) {
    return stop.number();
  }
  return 0;
}

// The stops the literal evaluation has for the same inputs: the factorials
// beyond the extended range from 1755 blocks on, lambda = 0 dividing by
// zero (0/0 with mu = 0 too), none at the ends of Pmut's range, and tails
// that grow beyond the double range (Pmut 3, which the dialogue takes).
TEST(AccurateStops, AreTheLiteralEvaluations) {
  const PointParameters cases[] = {
      accurate(10, 5, 0.3L, 1, 0, 1755, 4, 1), accurate(10, 5, 0.3L, 2, 1, 1800, 4, 1),
      accurate(0, 1, 0.3L, 1, 0, 3, 4, 1),     accurate(0, 0, 0.3L, 1, 0, 3, 4, 1),
      accurate(0, 5, 0.0L, 3, 1, 5, 4, 1),     accurate(10, 5, 1.0L, 3, 1, 40, 40, 1),
      accurate(10, 5, 0.0L, 3, 1, 40, 40, 1),  accurate(10, 0, 0.2L, 3, 1, 40, 40, 1),
      accurate(10, 5, 3.0L, 2, 0, 3, 200, 1),
  };
  for (PointParameters p : cases) {
    const int number = stop_of(p);
    p.arithmetic = Arithmetic::literal;
    EXPECT_EQ(number, stop_of(p)) << describe(p);
  }
  EXPECT_EQ(stop_of(cases[0]), 205);
  EXPECT_EQ(stop_of(cases[2]), 200);
  EXPECT_EQ(stop_of(cases[3]), 207);
  EXPECT_EQ(stop_of(cases[8]), 205);
}

TEST(AccurateStops, OutOfMemoryIs203) {
#if defined(BLOCKLEVELS_SANITIZED)
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit";
#else
  const pid_t pid = ::fork();
  if (pid == 0) {
    const rlimit limit{200u << 20, 200u << 20};
    ::setrlimit(RLIMIT_AS, &limit);
    _exit(stop_of(accurate(10, 5, 0.3L, 1, 0, 20000, 4, 1)));
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 203);
#endif
}

// One prepared model serves runs of any mu, lambda and report times, with
// run_model's results bit for bit, in either arithmetic; it refuses a run
// of another mutation.
TEST(PreparedLevelModel, RunsEveryPopulationAsRunModelDoes) {
  for (const Arithmetic arithmetic : {Arithmetic::literal, Arithmetic::accurate}) {
    PointParameters p = point_parameters(100, 70, 0.002L, 4, 1, 30, 120, 7, arithmetic);
    const PreparedLevelModel model(p);
    for (const auto& [lambda, mu, step] : {std::tuple{100, 70, 7}, {50, 5, 13}, {20, 20, 40}}) {
      p.lambda = lambda;
      p.mu = mu;
      p.step_generations = step;
      ReportedTails shared, alone;
      model.run(p, shared);
      run_model(p, alone);
      EXPECT_EQ(shared.tails, alone.tails) << describe(p);
    }
    p.Pmut = 0.003L;
    ReportedTails ignored;
    EXPECT_THROW(model.run(p, ignored), std::invalid_argument);
  }
}

}  // namespace
}  // namespace blocklevels
