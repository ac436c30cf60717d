#include "model/generation.hpp"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

#include "runtime/traps.hpp"
#include "support/reference_model.hpp"

namespace blocklevels {
namespace {

struct Case {
  std::int32_t b, acc, l, mu, lambda;
  long double x;
};

std::string describe(const Case& c, int generation) {
  std::ostringstream out;
  out.precision(21);
  out << "b=" << c.b << " acc=" << c.acc << " l=" << c.l << " mu=" << c.mu << " lambda=" << c.lambda
      << " Pmut=" << c.x << " generation " << generation;
  return out.str();
}

// Runs both for `generations` steps; returns "" when every bit agreed.
std::string compare_runs(const Case& c, int generations) {
  Params p;
  p.block_length = c.b;
  p.two_option_positions = c.acc;
  p.blocks = c.l;
  LevelModel model;
  build_model(p, 0.0L, c.x, model);
  GenerationStep step(model, c.mu, c.lambda);
  const std::vector<double> m = reference::matrix({c.b, c.acc, c.l}, c.x);
  std::vector<double> a(static_cast<std::size_t>(c.l), 0.0);
  for (int g = 1; g <= generations; ++g) {
    const std::vector<double> before = a;
    const bool unchanged = step.advance(model);
    a = reference::generation(m, c.l, c.mu, c.lambda, a);
    if (std::memcmp(model.A.data, a.data(), a.size() * sizeof(double)) != 0) return describe(c, g);
    if (unchanged != (a == before)) return describe(c, g) + ": wrong steady-state flag";
  }
  return "";
}

TEST(GenerationStep, FirstWorkedRunTailValues) {
  // lambda 10, Pmut 0.3, b 1, l 1, mu 5: A[1] runs 0.1, 0.22, 0.364, 0.5368, 0.7, 0.7.
  Params p;
  p.block_length = 1;
  p.blocks = 1;
  LevelModel model;
  build_model(p, 0.0L, 0.3L, model);
  GenerationStep step(model, 5, 10);
  const double expected[] = {0.1, 0.22, 0.364, 0.5368, 0.7, 0.7};
  for (const double e : expected) {
    step.advance(model);
    EXPECT_NEAR(static_cast<double>(model.A.get(1)), e, 1e-15);
  }
  EXPECT_TRUE(step.advance(model));  // 0.7 is above mu/lambda: a fixed point
}

TEST(GenerationStep, NoMutationKeepsTheWholePopulationAtLevelZero) {
  Params p;
  p.block_length = 3;
  p.blocks = 4;
  LevelModel model;
  build_model(p, 0.0L, 0.0L, model);
  GenerationStep step(model, 5, 20);
  EXPECT_TRUE(step.advance(model));
  for (int j = 1; j <= 4; ++j) EXPECT_EQ(model.A.get(j), 0.0L);
}

// Fixed-seed runs against the literal double loop, every generation compared.
TEST(GenerationStep, EqualsLiteralGenerationBitForBit) {
  std::mt19937_64 random(7031);
  for (int n = 0; n < 120; ++n) {
    Case c{};
    c.b = std::uniform_int_distribution<std::int32_t>(1, 6)(random);
    c.acc = std::uniform_int_distribution<std::int32_t>(0, c.b)(random);
    c.l = std::uniform_int_distribution<std::int32_t>(1, 14)(random);
    c.lambda = std::uniform_int_distribution<std::int32_t>(1, 200)(random);
    c.mu = std::uniform_int_distribution<std::int32_t>(1, c.lambda + 5)(random);
    c.x = static_cast<long double>(std::uniform_real_distribution<double>(0.0, 0.6)(random));
    ASSERT_EQ(compare_runs(c, 25), "");
  }
}

TEST(GenerationStepDeathTest, LambdaZeroDividesByZero) {
  Params p;
  p.block_length = 1;
  p.blocks = 2;
  LevelModel model;
  build_model(p, 0.0L, 0.1L, model);
  EXPECT_EXIT(
      {
        runtime::install_traps();
        GenerationStep step(model, 5, 0);
        step.advance(model);
      },
      testing::ExitedWithCode(200), "");
  EXPECT_EXIT(
      {
        runtime::install_traps();
        GenerationStep step(model, 0, 0);
        step.advance(model);
      },
      testing::ExitedWithCode(207), "");
}

}  // namespace
}  // namespace blocklevels
