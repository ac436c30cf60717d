#include "model/combinatorics.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace blocklevels {
namespace {

TEST(Factorial, SmallValuesAndNonPositiveArguments) {
  EXPECT_EQ(factorial(0), 1.0L);
  EXPECT_EQ(factorial(-5), 1.0L);
  EXPECT_EQ(factorial(1), 1.0L);
  EXPECT_EQ(factorial(5), 120.0L);
  EXPECT_EQ(factorial(20), 2432902008176640000.0L);  // exact: below 2^64
}

TEST(Factorial, LastFiniteValueIs1754) {
  const long double f = factorial(1754);
  EXPECT_TRUE(std::isfinite(f));
  EXPECT_GT(f, 1.97e4930L);
  EXPECT_LT(f, 1.99e4930L);
  // With the traps off (as in this test process) the next product overflows
  // to infinity; in the program the same product stops the run with 205.
  EXPECT_TRUE(std::isinf(factorial(1755)));
}

TEST(Binomial, ValuesAndUncheckedArguments) {
  EXPECT_EQ(binomial(5, 2), 10.0L);
  EXPECT_EQ(binomial(5, 0), 1.0L);
  EXPECT_EQ(binomial(5, 5), 1.0L);
  const long double middle = binomial(300, 150);
  EXPECT_TRUE(std::isfinite(middle));
  EXPECT_NEAR(static_cast<double>(middle / 1e88L), 9.375, 0.01);
  // k > n: factorial(n - k) of a negative argument is 1, so 3!/(1 * 5!).
  EXPECT_EQ(binomial(3, 5), 6.0L / 120.0L);
  // k < 0: 3!/(4! * 1).
  EXPECT_EQ(binomial(3, -1), 6.0L / 24.0L);
}

TEST(IntPower, RepeatedProductWithSixteenBitExponent) {
  EXPECT_EQ(int_power(0, 0.0L), 1.0L);
  EXPECT_EQ(int_power(0, 7.5L), 1.0L);
  EXPECT_EQ(int_power(3, 0.5L), 0.125L);
  EXPECT_EQ(int_power(5, 0.0L), 0.0L);
  // -1 reaches the routine as its low 16 bits, 65535: a silent underflow to 0.
  EXPECT_EQ(int_power(static_cast<std::uint16_t>(-1 & 0xFFFF), 0.5L), 0.0L);
  // A base above 1/2 never reaches 0 that way: the running product stalls at
  // a tiny denormal (2 * 0.8 denormal units round back to 2), quietly.
  EXPECT_EQ(int_power(65535, 0.8L), 2 * std::numeric_limits<long double>::denorm_min());
  EXPECT_EQ(int_power(65535, 0.8L), int_power(60000, 0.8L));
  // The running result on the left, one rounding per factor: 0.1^3 is not
  // the correctly rounded 10^-3, but ((1 * 0.1) * 0.1) * 0.1.
  const long double tenth = 1.0L / 10;
  volatile long double step = tenth;
  step = step * tenth;
  step = step * tenth;
  EXPECT_EQ(int_power(3, tenth), step);
}

}  // namespace
}  // namespace blocklevels
