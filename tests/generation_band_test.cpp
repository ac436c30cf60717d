// The generation step, which leaves out the zero terms (outside each
// column's band, or of a shortfall of 0, and forms no product for a
// shortfall of 1), against the literal double loop (support/reference_model)
// bit for bit: on matrices made up with bands narrow, wide, empty and of one
// entry, with exact zeros and ones, equal neighbours inside a band and
// infinities; and on the program's matrices at l = 300 and 1000.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <sstream>
#include <vector>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "model/generation.hpp"
#include "model/transition_model.hpp"
#include "support/reference_model.hpp"

namespace blocklevels {
namespace {

struct Made {
  LevelMatrix m;
  std::vector<double> rows;             // the same, row-major, for the literal loop
  std::vector<std::size_t> begin, end;  // each column's band as made
};

// Column j's entries are one value up to row begin, l + 1 - end rows of
// another from row end on, and a run of fresh values in between, so that
// the differences at begin and end - 1 are not 0 and all outside are.
Made made_matrix(std::int32_t l, std::mt19937_64& random, bool with_infinity) {
  const double values[] = {0.0, 1.0, 0x1p-1074, 1.0 - 0x1p-53, 0.5, -0.0};
  auto value = [&] {
    if (random() % 3 == 0) return values[random() % std::size(values)];
    return std::uniform_real_distribution<double>(0.0, 1.0)(random);
  };
  const auto side = static_cast<std::size_t>(l) + 1;
  Made made{LevelMatrix(l), std::vector<double>(side * side), {}, {}};
  for (std::int32_t j = 1; j <= l; ++j) {
    std::size_t begin = 0, end = 0;
    switch (random() % 5) {
      case 0:
        break;  // empty
      case 1:
        begin = random() % (side - 1), end = begin + 1;
        break;  // one entry
      case 2:
        end = side - 1;
        break;  // every level
      default:
        begin = random() % (side - 1);
        end = begin + 1 + random() % (side - 1 - begin);
    }
    if (end > side - 1) begin = end = 0;
    std::vector<double> column(side, value());
    for (std::size_t n = begin + 1; n <= end; ++n) {
      // Inside the band a neighbour may repeat; the ends may not.
      double v = random() % 4 == 0 && n > begin + 1 && n < end ? column[n - 1] : value();
      while (n == begin + 1 || n == end ? v == column[n - 1] : false) v = value();
      column[n] = v;
    }
    for (std::size_t n = end + 1; n < side && end > begin; ++n) column[n] = column[end];
    for (std::size_t i = 0; i < side; ++i) {
      made.rows[i * side + static_cast<std::size_t>(j)] = column[i];
      made.m.set(static_cast<std::int32_t>(i), j, column[i]);
    }
    made.begin.push_back(begin);
    made.end.push_back(end);
  }
  // One infinity, or two equal ones next to each other, whose difference
  // is the invalid operation of infinity minus infinity.
  for (std::size_t n = 0; with_infinity && n < 1 + random() % 2; ++n) {
    const auto i = static_cast<std::int32_t>(n == 0 ? random() % side : side - 2);
    const auto j =
        static_cast<std::int32_t>(n == 0 ? 1 + random() % static_cast<std::size_t>(l) : l);
    const double inf = n == 1 || random() % 2 ? std::numeric_limits<double>::infinity()
                                              : -std::numeric_limits<double>::infinity();
    for (const std::int32_t row : {i, n == 1 ? i + 1 : i}) {
      made.m.set(row, j, inf);
      made.rows[static_cast<std::size_t>(row) * side + static_cast<std::size_t>(j)] = inf;
    }
  }
  return made;
}

// Tail values giving shortfalls of 0 (at or above mu/lambda), 1 (0), others.
std::vector<double> made_tail(std::int32_t l, std::int32_t mu, std::int32_t lambda,
                              std::mt19937_64& random) {
  const double threshold = static_cast<double>(mu) / lambda;
  const double values[] = {0.0, 1.0, threshold, std::nextafter(threshold, 0.0), 0x1p-1074};
  std::vector<double> tail(static_cast<std::size_t>(l));
  for (double& y : tail) {
    y = random() % 2 ? values[random() % std::size(values)]
                     : std::uniform_real_distribution<double>(0.0, 1.0)(random);
  }
  if (random() % 2) std::sort(tail.rbegin(), tail.rend());  // as a run's tails are
  return tail;
}

std::string hex(double v) {
  std::ostringstream out;
  out << std::hexfloat << v;
  return out.str();
}

// "" when `generations` steps from `tail` equal the literal loop bit for
// bit, or stop with 207 where the literal loop makes a NaN; else the first
// difference.
std::string difference(const LevelMatrix& m, const std::vector<double>& rows, std::int32_t mu,
                       std::int32_t lambda, std::vector<double> tail, int generations) {
  const ExtendedArithmetic arithmetic;
  GenerationStep step(m, mu, lambda);
  std::vector<double> fast = tail;
  for (int g = 1; g <= generations; ++g) {
    const std::vector<double> slow = reference::generation(rows, m.n(), mu, lambda, tail);
    const bool nan = std::any_of(slow.begin(), slow.end(), [](double v) { return std::isnan(v); });
    try {
      const bool unchanged = step.advance(fast.data());
      if (nan)
        return "generation " + std::to_string(g) + ": no stop where the literal loop has NaN";
      for (std::size_t j = 0; j < slow.size(); ++j) {
        if (std::memcmp(&fast[j], &slow[j], sizeof(double)) != 0) {
          return "generation " + std::to_string(g) + " column " + std::to_string(j + 1) +
                 " band [" + std::to_string(step.band_begin(static_cast<std::int32_t>(j + 1))) +
                 ", " + std::to_string(step.band_end(static_cast<std::int32_t>(j + 1))) +
                 "): " + hex(fast[j]) + " instead of " + hex(slow[j]);
        }
      }
      const bool same = std::memcmp(tail.data(), slow.data(), slow.size() * sizeof(double)) == 0;
      if (unchanged != same) return "generation " + std::to_string(g) + ": unchanged";
    } catch (const Stop& stop) {
      if (!nan || stop.number() != 207) {
        return "generation " + std::to_string(g) + ": stop " + std::to_string(stop.number());
      }
      return "";
    }
    tail = slow;
  }
  return "";
}

std::string describe_tail(const std::vector<double>& tail) {
  std::string text;
  for (const double y : tail) text += " " + hex(y);
  return text;
}

TEST(GenerationBands, MadeUpMatricesEqualTheLiteralLoop) {
  std::mt19937_64 random(20261208);
  for (int n = 0; n < 600; ++n) {
    const auto l = static_cast<std::int32_t>(1 + random() % (n % 10 == 0 ? 120 : 24));
    const auto lambda = static_cast<std::int32_t>(1 + random() % 200);
    const auto mu = static_cast<std::int32_t>(1 + random() % static_cast<std::uint64_t>(lambda));
    const Made made = made_matrix(l, random, n % 25 == 0);
    const std::vector<double> tail = made_tail(l, mu, lambda, random);
    if (n % 25 != 0) {
      GenerationStep step(made.m, mu, lambda);
      for (std::int32_t j = 1; j <= l; ++j) {
        const auto c = static_cast<std::size_t>(j - 1);
        ASSERT_EQ(step.band_begin(j), made.begin[c]) << "case " << n << " column " << j;
        ASSERT_EQ(step.band_end(j), made.end[c]) << "case " << n << " column " << j;
      }
    }
    ASSERT_EQ(difference(made.m, made.rows, mu, lambda, tail, 3), "")
        << "case " << n << " l=" << l << " mu=" << mu << " lambda=" << lambda
        << " tail:" << describe_tail(tail);
  }
}

std::vector<double> rows_of(const LevelMatrix& m) {
  const auto side = static_cast<std::size_t>(m.n()) + 1;
  std::vector<double> rows(side * side);
  for (std::size_t i = 0; i < side; ++i) {
    for (std::size_t j = 0; j < side; ++j) {
      rows[i * side + j] = m.stored(static_cast<std::int32_t>(i), static_cast<std::int32_t>(j));
    }
  }
  return rows;
}

// The program's matrix (itself equal to the literal evaluation), from the
// start of a run, generation by generation.
struct RealCase {
  std::int32_t b, acc, l;
  long double x;
  std::int32_t mu, lambda, generations;
};

void expect_real_cases_equal(const std::vector<RealCase>& cases) {
  for (const RealCase& c : cases) {
    const LevelMatrix m = build_transition_matrix(c.x, c.b, c.acc, c.l);
    const std::vector<double> tail(static_cast<std::size_t>(c.l));
    EXPECT_EQ(difference(m, rows_of(m), c.mu, c.lambda, tail, c.generations), "")
        << "b=" << c.b << " acc=" << c.acc << " l=" << c.l << " Pmut=" << static_cast<double>(c.x)
        << " mu=" << c.mu << " lambda=" << c.lambda;
  }
}

TEST(GenerationBands, ProgramsMatricesAt300LevelsEqualTheLiteralLoop) {
  expect_real_cases_equal({{1, 0, 300, 0.01L, 10, 100, 150},
                           {1, 0, 300, 0.01L, 100, 100, 20},
                           {4, 1, 300, 0.001L, 100, 1000, 60},
                           {3, 2, 300, 0.2L, 3, 7, 40},
                           {1, 0, 300, 1.0L, 1, 2, 5},
                           {2, 0, 300, 0.0L, 1, 2, 5}});
}

TEST(GenerationBandsSlow, ProgramsMatrixAt1000LevelsEqualsTheLiteralLoop) {
  expect_real_cases_equal({{1, 0, 1000, 0.003L, 20, 100, 12}});
}

// A generation that stops (here a division by zero: mu = 0 below a level a
// negative fraction reaches) leaves the vector as it was, and retried it
// stops again, also after generations whose shortfalls were kept.
TEST(GenerationBands, RetriedStopStopsAgain) {
  const ExtendedArithmetic arithmetic;
  const LevelMatrix m = build_transition_matrix(0.1L, 2, 0, 6);
  GenerationStep step(m, 0, 5);
  std::vector<double> tail(6, 0.5);
  ASSERT_NO_THROW(step.advance(tail.data()));
  std::vector<double> failing(tail);
  failing[3] = -0.25;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::vector<double> before = failing;
    try {
      step.advance(failing.data());
      ADD_FAILURE() << "no stop at attempt " << attempt;
    } catch (const Stop& stop) {
      EXPECT_EQ(stop.number(), 200) << "attempt " << attempt;
    }
    EXPECT_EQ(failing, before);
  }
}

}  // namespace
}  // namespace blocklevels
