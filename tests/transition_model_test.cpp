#include "model/transition_model.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <sstream>

#include "support/reference_model.hpp"

namespace blocklevels {
namespace {

Params shape_params(std::int32_t b, std::int32_t acc, std::int32_t l) {
  Params p;
  p.block_length = b;
  p.two_option_positions = acc;
  p.blocks = l;
  return p;
}

LevelModel built(std::int32_t b, std::int32_t acc, std::int32_t l, long double x) {
  LevelModel model;
  build_model(shape_params(b, acc, l), 0.0L, x, model);
  return model;
}

// The fast matrix against the literal one; returns a description of the
// first differing entry, or "" when every bit agrees.
std::string first_difference(std::int32_t b, std::int32_t acc, std::int32_t l, long double x) {
  const LevelModel model = built(b, acc, l, x);
  const std::vector<double> literal = reference::matrix({b, acc, l}, x);
  const auto side = static_cast<std::size_t>(l) + 1;
  for (std::int32_t i = 0; i <= l; ++i) {
    for (std::int32_t j = 0; j <= l; ++j) {
      const double fast = model.M.rows[i][j];
      const double slow = literal[static_cast<std::size_t>(i) * side + static_cast<std::size_t>(j)];
      if (std::memcmp(&fast, &slow, sizeof fast) != 0) {
        std::ostringstream out;
        out.precision(21);
        out << "b=" << b << " acc=" << acc << " l=" << l << " Pmut=" << x << ": M[" << i << "]["
            << j << "] fast " << fast << " literal " << slow;
        return out.str();
      }
    }
  }
  return "";
}

TEST(TransitionModel, WorkedMatrixWithBothSurvivalFormulas) {
  // x = 0.1, b = 3, acc = 1, l = 2.
  const long double x = 1.0L / 10;
  const LevelModel model = built(3, 1, 2, x);
  const double expected[3][3] = {
      {0, 0.128889, 0.004444}, {0, 0.772267, 0.054202}, {0, 0.940464, 0.571536}};
  for (int i = 0; i <= 2; ++i) {
    for (int j = 1; j <= 2; ++j) {
      EXPECT_NEAR(static_cast<double>(model.M.get(i, j)), expected[i][j], 5e-7) << i << "," << j;
    }
  }
  // M[1][2] = pkeep * a: the upper triangle's survival gives 0.054202; the
  // lower triangle's survival (0.756) would have given 0.050400.
  const MutationConstants c = mutation_constants(x, 3, 1);
  EXPECT_NEAR(static_cast<double>(c.pkeep_down), 0.756, 1e-15);
  EXPECT_NEAR(static_cast<double>(c.pkeep_up), 0.813037, 5e-7);
  EXPECT_NEAR(static_cast<double>(c.pkeep_down * c.a), 0.050400, 5e-7);
  EXPECT_EQ(model.M.get(1, 2), static_cast<long double>(static_cast<double>(c.pkeep_up * c.a)));
}

TEST(TransitionModel, NoMutationKeepsEveryLevel) {
  const LevelModel model = built(4, 2, 6, 0.0L);
  for (int i = 0; i <= 6; ++i) {
    EXPECT_EQ(model.M.get(i, 0), 0.0L);
    for (int j = 1; j <= 6; ++j)
      EXPECT_EQ(model.M.get(i, j), j <= i ? 1.0L : 0.0L) << i << "," << j;
  }
}

TEST(TransitionModel, ConstantsAtTheEdges) {
  // x = 1 with acc = 0: q = 0, nothing survives, a block completes with 1/3.
  MutationConstants c = mutation_constants(1.0L, 4, 0);
  EXPECT_EQ(c.q, 0.0L);
  EXPECT_EQ(c.pkeep_down, 0.0L);
  EXPECT_EQ(c.pbreak_down, 1.0L);
  EXPECT_EQ(c.a, 1.0L / 3);
  // acc = b: both survival formulas give the same bits.
  c = mutation_constants(0.37L, 5, 5);
  EXPECT_EQ(c.pkeep_down, c.pkeep_up);
  // acc > b: b - acc = -1 reaches the power as 65535; q = 0.4 underflows to 0.
  c = mutation_constants(0.6L, 3, 4);
  EXPECT_EQ(c.pkeep_down, 0.0L);
  EXPECT_EQ(c.pbreak_down, 1.0L);
}

TEST(TransitionModel, OneBlock) {
  const long double x = 0.3L;
  const LevelModel model = built(1, 0, 1, x);
  const MutationConstants c = mutation_constants(x, 1, 0);
  EXPECT_EQ(model.M.get(0, 1), static_cast<long double>(static_cast<double>(c.a)));
  EXPECT_EQ(model.M.get(1, 1), static_cast<long double>(static_cast<double>(c.pkeep_down)));
  EXPECT_NEAR(static_cast<double>(model.M.get(0, 1)), 0.1, 1e-16);
  EXPECT_NEAR(static_cast<double>(model.M.get(1, 1)), 0.7, 1e-16);
}

TEST(TransitionModel, StartsTheTailVectorAtTheInitialValue) {
  LevelModel model;
  build_model(shape_params(2, 0, 4), 0.25L, 0.1L, model);
  ASSERT_EQ(model.A.n, 4);
  ASSERT_EQ(model.C.n, 4);
  for (int j = 1; j <= 4; ++j) {
    EXPECT_EQ(model.A.get(j), 0.25L);
    EXPECT_EQ(model.C.get(j), 0.0L);
  }
}

TEST(SelectionShortfall, ZeroFromTheThresholdOn) {
  EXPECT_EQ(selection_shortfall(5, 10, 0.5L), 0.0L);  // equality counts
  EXPECT_EQ(selection_shortfall(5, 10, 0.7L), 0.0L);
  EXPECT_EQ(selection_shortfall(5, 10, 0.0L), 1.0L);
  EXPECT_EQ(selection_shortfall(5, 10, 0.1L), 1 - (10 * 0.1L) / 5);
  EXPECT_EQ(selection_shortfall(1, 3, 1.0L / 3), 0.0L);
}

// Fixed-seed parameter sets: block length 1..10, acc 0..b and beyond, l
// 1..30, Pmut across 0..1 and a few outside it.
TEST(TransitionModel, FastBuildEqualsLiteralEvaluationBitForBit) {
  std::mt19937_64 random(20261206);
  std::uniform_int_distribution<std::int32_t> block_length(1, 10);
  std::uniform_int_distribution<std::int32_t> blocks(1, 30);
  std::uniform_real_distribution<double> probability(0.0, 1.0);
  const long double outside[] = {-0.25L, 1.5L, 2.0L, 3.0L, -1.0L};
  int sets = 0;
  for (int n = 0; n < 320; ++n) {
    const std::int32_t b = block_length(random);
    const std::int32_t acc = std::uniform_int_distribution<std::int32_t>(0, b + 2)(random);
    const std::int32_t l = blocks(random);
    long double x = static_cast<long double>(probability(random));
    if (n % 40 == 0) x = outside[(n / 40) % 5];
    if (n % 40 == 1) x = 0.0L;
    if (n % 40 == 2) x = 1.0L;
    ASSERT_EQ(first_difference(b, acc, l, x), "");
    ++sets;
  }
  EXPECT_EQ(sets, 320);
}

// Counts the dialogue accepts without a check: negative block lengths and
// two-option counts reach the powers as the low 16 bits of their values.
TEST(TransitionModel, NegativeCountsTakeTheSixteenBitExponentRule) {
  EXPECT_EQ(first_difference(-2, 0, 6, 0.3L), "");
  EXPECT_EQ(first_difference(3, -1, 6, 0.3L), "");
  EXPECT_EQ(first_difference(-5, 2, 4, 0.7L), "");
  EXPECT_EQ(first_difference(2, 70000, 5, 0.4L), "");
}

TEST(TransitionModelSlow, FastBuildEqualsLiteralEvaluationAt80Blocks) {
  EXPECT_EQ(first_difference(1, 0, 80, 0.01L), "");
  EXPECT_EQ(first_difference(2, 1, 80, 0.2L), "");
}

}  // namespace
}  // namespace blocklevels
