#include "model/matr11.hpp"

#include <gtest/gtest.h>

#include <cfloat>

#include "runtime/traps.hpp"

namespace blocklevels {
namespace {

TEST(RealVector, EmptyVectorIgnoresEverySet) {
  RealVector v;
  bool fail = true;
  v.init(0, fail);
  EXPECT_FALSE(fail);
  EXPECT_EQ(v.n, 0);
  EXPECT_EQ(v.data, nullptr);
  v.set(0, 1.0L);
  v.set(1, 1.0L);
  EXPECT_EQ(v.n, 0);
}

TEST(RealVector, OutOfRangeSetsChangeNothing) {
  RealVector v;
  bool fail = true;
  v.init(3, fail);
  ASSERT_FALSE(fail);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(v.get(i), 0.0L);
  v.set(0, 7.0L);
  v.set(4, 7.0L);
  v.set(-1, 7.0L);
  for (int i = 1; i <= 3; ++i) EXPECT_EQ(v.get(i), 0.0L);
  v.set(3, 7.0L);
  EXPECT_EQ(v.get(3), 7.0L);
}

TEST(LevelMatrix, OutOfRangeSetsChangeNothing) {
  LevelMatrix m;
  bool fail = true;
  m.init(2, fail);
  ASSERT_FALSE(fail);
  m.set(-1, 0, 5.0L);
  m.set(0, 3, 5.0L);
  m.set(3, 0, 5.0L);
  m.set(0, -1, 5.0L);
  for (int i = 0; i <= 2; ++i) {
    for (int j = 0; j <= 2; ++j) EXPECT_EQ(m.get(i, j), 0.0L);
  }
  m.set(2, 2, 5.0L);
  EXPECT_EQ(m.get(2, 2), 5.0L);
}

TEST(Containers, StoreRoundsToNearestDouble) {
  // 1/3 in extended is not a double: read back, it is the nearest double.
  const long double third = 1.0L / 3;
  RealVector v;
  LevelMatrix m;
  bool fail = false;
  v.init(1, fail);
  m.init(1, fail);
  v.set(1, third);
  m.set(1, 1, third);
  EXPECT_NE(v.get(1), third);
  EXPECT_EQ(v.get(1), static_cast<long double>(1.0 / 3));
  EXPECT_EQ(m.get(1, 1), static_cast<long double>(1.0 / 3));
  // Ties go to even: 1 + 2^-53 lies halfway between 1 and 1 + 2^-52.
  v.set(1, 1.0L + 0x1p-53L);
  EXPECT_EQ(v.get(1), 1.0L);
  v.set(1, 1.0L + 0x1p-53L + 0x1p-63L);
  EXPECT_EQ(v.get(1), 1.0L + 0x1p-52L);
  // Below the double range: a quiet underflow to zero.
  v.set(1, 0x1p-1100L);
  EXPECT_EQ(v.get(1), 0.0L);
}

TEST(Containers, SizeTestsWrapLikeThirtyTwoBitArithmetic) {
  // 8 * n + 8 and the matrix formula wrap around and stay below the 32-bit
  // maximum, so the shortage test never fails for a real request.
  RealVector v;
  bool fail = true;
  v.init(1000, fail);
  EXPECT_FALSE(fail);
  LevelMatrix m;
  fail = true;
  m.init(1000, fail);
  EXPECT_FALSE(fail);
  EXPECT_EQ(m.n, 1000);
}

TEST(ContainersDeathTest, ValueBeyondTheDoubleRangeStopsWith205) {
  EXPECT_EXIT(
      {
        RealVector v;
        bool fail = false;
        v.init(1, fail);
        v.set(1, 0x1.fffffffffffff8p1023L);
      },
      testing::ExitedWithCode(205), "");
  // Just below the halfway point it rounds to the largest double.
  RealVector v;
  bool fail = false;
  v.init(1, fail);
  v.set(1, 0x1.fffffffffffff7fep1023L);
  EXPECT_EQ(v.get(1), static_cast<long double>(DBL_MAX));
  v.set(1, -0x1.fffffffffffff7fep1023L);
  EXPECT_EQ(v.get(1), -static_cast<long double>(DBL_MAX));
}

}  // namespace
}  // namespace blocklevels
