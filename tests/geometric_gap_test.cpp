// The geometric gap from a double-precision logarithm against the literal
// extended-precision quotient, gap for gap: on fixed-seed draws, and on the
// 64-bit inputs next to each place where the literal gap changes from one
// integer to the next, where a quotient off by its rounding error gives a
// gap off by one unless the margin sends it to the literal evaluation.
#include "simulation/geometric_gap.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <pcg_random.hpp>
#include <sstream>

#include "arithmetic/extended_arithmetic.hpp"
#include "simulation/mutation_positions.hpp"

namespace blocklevels::simulation {
namespace {

// floor(logl((k + 1) 2^-64) / L), written out here as the draws were always
// made; and whether it stayed below the long-gap limit 2^62.
Gap literal_gap(std::uint64_t k, long double log_keep) {
  const long double q = std::log((static_cast<long double>(k) + 1) * 0x1p-64L) / log_keep;
  if (q >= 0x1p62L) return {std::uint64_t{1} << 62, false};
  return {static_cast<std::uint64_t>(q), true};
}

std::string mismatch(long double pmut, std::uint64_t k, Gap fast, Gap literal) {
  std::ostringstream out;
  out << "pmut " << std::hexfloat << pmut << " k " << std::hex << k << std::dec << ": gap "
      << fast.length << (fast.mutates ? "" : " (long)") << " instead of " << literal.length
      << (literal.mutates ? "" : " (long)");
  return out.str();
}

const long double kPmuts[] = {0.5L,  0.1L,   0.01L, 0.001L,       1e-4L, 1e-6L,
                              1e-9L, 1e-12L, 0.9L,  1 - 0x1p-30L, 0.3L,  1e-15L};

// Fixed-seed draws, and the share that took the literal evaluation: about
// twice the margin, 2 (2^-44 q + 2^-46 / |L|), small for the usual pmut.
TEST(GeometricGap, DrawsEqualTheLiteralQuotientsFloor) {
  const ExtendedArithmetic arithmetic;
  pcg32 rng(20261209, 5);
  for (const long double pmut : kPmuts) {
    const long double log_keep = log_one_minus(pmut);
    GeometricGap gap(log_keep);
    const int draws = 200000;
    for (int n = 0; n < draws; ++n) {
      const std::uint64_t k = (std::uint64_t{rng()} << 32) | rng();
      const Gap fast = gap(k), literal = literal_gap(k, log_keep);
      ASSERT_TRUE(fast.length == literal.length && fast.mutates == literal.mutates)
          << mismatch(pmut, k, fast, literal);
    }
    // From pmut 1e-12 down the margin 2^-44 q itself is 0.06 and more.
    const double share = static_cast<double>(gap.fallbacks()) / draws;
    if (pmut >= 1e-9L) {
      EXPECT_LE(share, 1e-4) << "pmut " << static_cast<double>(pmut);
    }
  }
}

// Around each place where the literal gap drops below n (the largest k with
// a gap of at least n, found by bisection), and at the largest and smallest
// k: every gap equals the literal one. Most of those inputs must fall back.
TEST(GeometricGap, InputsAtTheIntegerBoundariesEqualTheLiteralQuotientsFloor) {
  const ExtendedArithmetic arithmetic;
  pcg32 rng(77, 3);
  std::uint64_t compared = 0;
  std::uint64_t fallbacks = 0;
  for (const long double pmut : kPmuts) {
    const long double log_keep = log_one_minus(pmut);
    GeometricGap gap(log_keep);
    const std::uint64_t largest = literal_gap(0, log_keep).length;
    for (int t = 0; t < 300; ++t) {
      // n from 1 to the largest gap, dense near 1 and spread on a log scale.
      const auto n = static_cast<std::uint64_t>(std::exp2(std::log2(static_cast<double>(largest)) *
                                                          (t < 20 ? 0 : (rng() >> 8) * 0x1p-24)));
      const std::uint64_t base = t < 20 ? static_cast<std::uint64_t>(t + 1) : n;
      if (base == 0 || base > largest) continue;
      std::uint64_t low = 0, high = ~std::uint64_t{0};  // gap(low) >= base > gap(high)
      if (literal_gap(high, log_keep).length >= base) continue;
      while (high - low > 1) {
        const std::uint64_t middle = low + (high - low) / 2;
        (literal_gap(middle, log_keep).length >= base ? low : high) = middle;
      }
      for (int d = -3; d <= 3; ++d) {
        const std::uint64_t k = low + static_cast<std::uint64_t>(d);  // wraps for d < 0
        if ((d < 0 && k > low) || (d > 0 && k < low)) continue;
        const Gap fast = gap(k), literal = literal_gap(k, log_keep);
        ASSERT_TRUE(fast.length == literal.length && fast.mutates == literal.mutates)
            << mismatch(pmut, k, fast, literal) << " at the boundary of " << base;
        ++compared;
      }
    }
    for (const std::uint64_t k : {std::uint64_t{0}, ~std::uint64_t{0}, ~std::uint64_t{0} - 1}) {
      const Gap fast = gap(k), literal = literal_gap(k, log_keep);
      ASSERT_TRUE(fast.length == literal.length && fast.mutates == literal.mutates)
          << mismatch(pmut, k, fast, literal);
    }
    fallbacks += gap.fallbacks();
  }
  EXPECT_GT(compared, 20000U);
  EXPECT_GT(fallbacks, compared / 4);
}

// A pmut whose quotients reach the long-gap limit 2^62: the inputs around
// the limit, which the fast path never decides, and random ones.
TEST(GeometricGap, LongGapLimitIsTheLiteralOne) {
  const ExtendedArithmetic arithmetic;
  const long double log_keep = log_one_minus(1e-19L);
  GeometricGap gap(log_keep);
  std::uint64_t low = 0, high = ~std::uint64_t{0};  // long at low, not at high
  ASSERT_FALSE(literal_gap(low, log_keep).mutates);
  ASSERT_TRUE(literal_gap(high, log_keep).mutates);
  while (high - low > 1) {
    const std::uint64_t middle = low + (high - low) / 2;
    (literal_gap(middle, log_keep).mutates ? high : low) = middle;
  }
  pcg32 rng(5, 5);
  for (int n = 0; n < 20000; ++n) {
    const std::uint64_t k =
        n < 9 ? low - 4 + static_cast<std::uint64_t>(n) : (std::uint64_t{rng()} << 32) | rng();
    const Gap fast = gap(k), literal = literal_gap(k, log_keep);
    ASSERT_TRUE(fast.length == literal.length && fast.mutates == literal.mutates)
        << mismatch(1e-19L, k, fast, literal);
  }
}

// The margin assumes a double logarithm within 1 ulp (2^-52 of its result):
// checked against logl on random inputs, small ones and ones next to 1.
TEST(GeometricGap, DoubleLogarithmIsWithinTheAssumedError) {
  const ExtendedArithmetic arithmetic;
  pcg32 rng(3, 9);
  long double worst = 0;
  for (int n = 0; n < 300000; ++n) {
    const std::uint64_t k = (std::uint64_t{rng()} << 32) | rng();
    double u = static_cast<double>(k >> (n % 64)) * 0x1p-64;
    if (n % 3 == 0) u = 1.0 - static_cast<double>(k >> 40) * 0x1p-53;
    if (u == 0 || u == 1) continue;
    const long double exact = std::log(static_cast<long double>(u));
    worst = std::max(worst, std::fabs((std::log(u) - exact) / exact));
  }
  EXPECT_LE(worst, 0x1p-52L) << std::hexfloat << worst;
}

}  // namespace
}  // namespace blocklevels::simulation
