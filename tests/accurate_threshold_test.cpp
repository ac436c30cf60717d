// Where Xtop crosses 0.1 at generation 500 as Pmut moves over [1e-4, 0.1]
// (lambda 100, mu 70, blocks of 4, l = 50): a log-spaced grid, then each
// sign change of Xtop - 0.1 refined by bisection, through run_model. The
// accurate evaluation crosses twice, near 0.00026851694 (rising) and
// 0.00126085 (falling), on a grid of 64 values and of 4096 alike; the
// literal evaluation's noise at the top level makes spurious crossings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <thread>
#include <vector>

#include "model/model_run.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

struct LastTop final : ModelSink {
  long double top = 0;
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override { top = tail.back(); }
};

long double excess(long double pmut, Arithmetic arithmetic) {
  const PointParameters p = point_parameters(100, 70, pmut, 4, 0, 50, 500, 500, arithmetic);
  LastTop sink;
  run_model(p, sink);
  return sink.top - 0.1L;
}

// Xtop - 0.1 on n log-spaced values over [1e-4, 0.1], two threads.
std::vector<long double> scan(const std::vector<long double>& grid, Arithmetic arithmetic) {
  std::vector<long double> values(grid.size());
  auto part = [&](std::size_t first) {
    for (std::size_t k = first; k < grid.size(); k += 2) values[k] = excess(grid[k], arithmetic);
  };
  std::thread other(part, 1);
  part(0);
  other.join();
  return values;
}

std::vector<long double> log_grid(int n) {
  std::vector<long double> grid;
  for (int k = 0; k < n; ++k) grid.push_back(1e-4L * std::pow(1000.0L, k / (n - 1.0L)));
  return grid;
}

struct Crossing {
  long double pmut;
  bool rising;
};

// Every sign change of the grid, refined to a relative width of 1e-13.
std::vector<Crossing> crossings(int n, Arithmetic arithmetic) {
  const std::vector<long double> grid = log_grid(n);
  const std::vector<long double> values = scan(grid, arithmetic);
  std::vector<Crossing> found;
  for (std::size_t k = 0; k + 1 < grid.size(); ++k) {
    if ((values[k] < 0) == (values[k + 1] < 0)) continue;
    long double a = grid[k], b = grid[k + 1];
    const bool rising = values[k] < 0;
    while (b - a > 1e-13L * b) {
      const long double middle = (a + b) / 2;
      ((excess(middle, arithmetic) < 0) == rising ? a : b) = middle;
    }
    found.push_back({(a + b) / 2, rising});
  }
  return found;
}

// Within half a unit of the last digit given.
void expect_the_two_crossings(const std::vector<Crossing>& found, int n) {
  ASSERT_EQ(found.size(), 2u) << "grid of " << n;
  EXPECT_TRUE(found[0].rising);
  EXPECT_NEAR(static_cast<double>(found[0].pmut), 0.00026851694, 5e-12) << "grid of " << n;
  EXPECT_FALSE(found[1].rising);
  EXPECT_NEAR(static_cast<double>(found[1].pmut), 0.00126085, 5e-9) << "grid of " << n;
  std::printf("grid of %d: crossings at %.17Lg and %.17Lg\n", n, found[0].pmut, found[1].pmut);
}

TEST(AccurateThreshold, CrossesOnceEachWayOnAGridOf64) {
  expect_the_two_crossings(crossings(64, Arithmetic::accurate), 64);
}

TEST(AccurateThresholdSlow, CrossesOnceEachWayOnAGridOf4096WhereTheLiteralJumps) {
  const std::vector<Crossing> accurate = crossings(4096, Arithmetic::accurate);
  expect_the_two_crossings(accurate, 4096);
  const std::vector<long double> literal = scan(log_grid(4096), Arithmetic::literal);
  int sign_changes = 0;
  for (std::size_t k = 0; k + 1 < literal.size(); ++k) {
    sign_changes += (literal[k] < 0) != (literal[k + 1] < 0);
  }
  EXPECT_GT(sign_changes, 2);
  std::printf("literal sign changes on the grid of 4096: %d\n", sign_changes);
}

}  // namespace
}  // namespace blocklevels
