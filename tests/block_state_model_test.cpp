// The block-state model against slow, literal references written here: the
// population as a distribution over every allele string (the real
// algorithm's individuals), the level model by point probabilities for
// blocks of one position, binomial convolutions summed term by term; and
// against the simulation, its stops and its sink protocol.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <random>
#include <sstream>
#include <stdexcept>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "model/binomial_convolution.hpp"
#include "model/block_state_run.hpp"
#include "model/block_state_trajectory.hpp"
#include "model/model_run.hpp"
#include "simulation/simulation_runs.hpp"
#include "simulation/student_t.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

using Table = std::vector<std::vector<long double>>;  // [generation - 1][j - 1]

struct Tails final : ModelSink {
  std::vector<std::int64_t> times;
  Table tails;
  bool watch = false;
  Table watched;
  void start(std::int64_t first) override { times.push_back(-first); }
  void report(std::int64_t t, std::span<const double> tail) override {
    times.push_back(t);
    tails.emplace_back(tail.begin(), tail.end());
  }
  bool watches_every_generation() const override { return watch; }
  bool generation(std::int64_t, std::span<const double> tail) override {
    watched.emplace_back(tail.begin(), tail.end());
    return true;
  }
};

Tails run(const PointParameters& p, BlockStateMethod method) {
  Tails sink;
  run_block_state_model(
      BlockStateMutation(p.Pmut, p.block_length, p.two_option_positions, p.blocks, method), p,
      sink);
  return sink;
}

std::string describe(const PointParameters& p) {
  std::ostringstream out;
  out << "b=" << p.block_length << " acc=" << p.two_option_positions << " l=" << p.blocks
      << " Pmut=" << static_cast<double>(p.Pmut) << " mu=" << p.mu << " lambda=" << p.lambda;
  return out.str();
}

// The largest relative difference over every value of at least 1e-300
// (smaller ones: their absolute difference).
long double largest_difference(const Table& a, const Table& b) {
  long double largest = 0;
  for (std::size_t t = 0; t < a.size(); ++t) {
    for (std::size_t j = 0; j < a[t].size(); ++j) {
      const long double d = std::fabs(a[t][j] - b[t][j]);
      largest = std::max(largest, a[t][j] >= 1e-300L ? d / a[t][j] : d);
    }
  }
  return largest;
}

// Truncation selection from level masses, from its definition: a level whose
// offspring, with all above it, fit into the mu parents is taken whole, each
// offspring lambda / mu times over; the level where they stop fitting gives
// the rest; level 0 takes what is left when nothing reaches mu / lambda.
std::vector<long double> selection_factors(const std::vector<long double>& f, std::int32_t mu,
                                           std::int32_t lambda) {
  const std::size_t l = f.size() - 1;
  std::vector<long double> tail(l + 2, 0.0L), factor(l + 1, 0.0L);
  for (std::size_t j = l + 1; j-- > 0;) tail[j] = tail[j + 1] + f[j];
  const long double lm = static_cast<long double>(lambda), m = static_cast<long double>(mu);
  for (std::size_t i = l + 1; i-- > 0;) {
    if (lm * tail[i] < m && i > 0) {
      factor[i] = lm / m;
    } else {
      factor[i] = (i == l ? 1.0L : 1.0L - lm * tail[i + 1] / m) / f[i];
      break;
    }
  }
  return factor;
}

std::vector<long double> tail_of(const std::vector<long double>& f) {
  std::vector<long double> tail(f.size() - 1);
  long double sum = 0;
  for (std::size_t j = f.size() - 1; j >= 1; --j) tail[j - 1] = sum += f[j];
  return tail;
}

// The real algorithm's infinite population, literally: a distribution over
// all 4^(l b) allele strings, each position mutating with probability x to
// each other allele with x / 3, selection on the number of complete blocks.
Table allele_strings(const PointParameters& p) {
  const std::int32_t b = p.block_length, acc = p.two_option_positions, l = p.blocks;
  const std::size_t n = static_cast<std::size_t>(l * b), states = std::size_t{1} << (2 * n);
  auto allele = [](std::size_t s, std::size_t pos) { return (s >> (2 * pos)) & 3U; };
  auto level = [&](std::size_t s) {
    std::size_t complete = 0;
    for (std::int32_t block = 0; block < l; ++block) {
      bool all = true;
      for (std::int32_t o = 0; o < b; ++o) {
        const std::size_t a = allele(s, static_cast<std::size_t>(block * b + o));
        all = all && (a == 0 || (a == 1 && o < acc));
      }
      complete += all ? 1 : 0;
    }
    return complete;
  };
  std::vector<long double> w(states, 0.0L), next(states);
  std::size_t start = 0;
  for (std::int32_t block = 0; block < l; ++block) {
    start |= std::size_t{acc == 0 ? 1U : 2U} << (2 * static_cast<std::size_t>(block * b));
  }
  w[start] = 1;
  Table tails;
  for (std::int32_t t = 1; t <= p.final_iteration; ++t) {
    for (std::size_t pos = 0; pos < n; ++pos) {  // one position after another
      for (std::size_t s = 0; s < states; ++s) {
        long double sum = 0;
        for (std::size_t a = 0; a < 4; ++a) {
          const std::size_t from = (s & ~(std::size_t{3} << (2 * pos))) | (a << (2 * pos));
          sum += w[from] * (a == allele(s, pos) ? 1 - p.Pmut : p.Pmut / 3);
        }
        next[s] = sum;
      }
      w.swap(next);
    }
    std::vector<long double> f(static_cast<std::size_t>(l) + 1, 0.0L);
    for (std::size_t s = 0; s < states; ++s) f[level(s)] += w[s];
    tails.push_back(tail_of(f));
    const std::vector<long double> factor = selection_factors(f, p.mu, p.lambda);
    for (std::size_t s = 0; s < states; ++s) w[s] *= factor[level(s)];
  }
  return tails;
}

PointParameters point(std::int32_t b, std::int32_t acc, std::int32_t l, long double x,
                      std::int32_t mu, std::int32_t lambda, std::int32_t generations) {
  return {lambda, mu, x, b, acc, l, generations, 1};
}

TEST(BlockStateExact, EqualsTheDistributionOverAlleleStrings) {
  const PointParameters cases[] = {
      point(2, 0, 2, 0.05L, 3, 10, 6),    point(2, 1, 2, 0.3L, 10000, 20000, 6),
      point(2, 2, 2, 0.75L, 2, 7, 6),     point(2, 1, 2, 0.9L, 7, 5, 6),
      point(3, 1, 2, 1.0L, 1, 10, 5),     point(2, 1, 3, 0.02L, 1, 4, 6),
      point(3, 0, 2, 0.1L, 200, 1000, 6), point(2, 0, 2, 0.0L, 3, 10, 3),
  };
  for (const PointParameters& p : cases) {
    const Table literal = allele_strings(p);
    const Tails exact = run(p, BlockStateMethod::exact);
    EXPECT_LT(largest_difference(literal, exact.tails), 1e-14L) << describe(p);
    // The default is the evaluation that is right, where it can run.
    EXPECT_EQ(run(p, BlockStateMethod::automatic).tails, exact.tails) << describe(p);
  }
}

// The level model by point probabilities: P(i -> m) = sum over r of
// Bin(i, pbreak)(r) Bin(l - i, a)(m - i + r), each term a product.
long double binomial_point(std::int32_t n, std::int32_t k, long double p) {
  if (k < 0 || k > n) return 0;
  long double c = 1;
  for (std::int32_t j = 1; j <= k; ++j) c = c * (n - k + j) / j;
  return c * std::pow(p, static_cast<long double>(k)) *
         std::pow(1 - p, static_cast<long double>(n - k));
}

Table level_model_points(const PointParameters& p) {
  const long double x = p.Pmut;
  const long double a = p.two_option_positions > 0 ? x * 2 / 3 : x / 3;
  const long double pbreak = p.two_option_positions > 0 ? 1 - (x / 3 + (1 - x)) : x;
  const std::int32_t l = p.blocks;
  const auto size = static_cast<std::size_t>(l) + 1;
  std::vector<std::vector<long double>> move(size, std::vector<long double>(size, 0.0L));
  for (std::int32_t i = 0; i <= l; ++i) {
    for (std::int32_t m = 0; m <= l; ++m) {
      for (std::int32_t r = 0; r <= i; ++r) {
        move[static_cast<std::size_t>(i)][static_cast<std::size_t>(m)] +=
            binomial_point(i, r, pbreak) * binomial_point(l - i, m - i + r, a);
      }
    }
  }
  std::vector<long double> parents(size, 0.0L);
  parents[0] = 1;
  Table tails;
  for (std::int32_t t = 1; t <= p.final_iteration; ++t) {
    std::vector<long double> f(size, 0.0L);
    for (std::size_t i = 0; i < size; ++i) {
      for (std::size_t m = 0; m < size; ++m) f[m] += parents[i] * move[i][m];
    }
    tails.push_back(tail_of(f));
    const std::vector<long double> factor = selection_factors(f, p.mu, p.lambda);
    for (std::size_t i = 0; i < f.size(); ++i) parents[i] = f[i] * factor[i];
  }
  return tails;
}

// With blocks of one position the block states are complete and not: the
// block-state model is the level model, by either evaluation.
TEST(BlockStateModel, EqualsTheLevelModelForBlocksOfOnePosition) {
  std::mt19937_64 random(515);
  for (int n = 0; n < 16; ++n) {
    const std::int32_t lambda = std::uniform_int_distribution<std::int32_t>(2, 20000)(random);
    const PointParameters p =
        point(1, n % 2, std::uniform_int_distribution<std::int32_t>(1, 30)(random),
              static_cast<long double>(std::uniform_real_distribution<double>(0.001, 0.9)(random)),
              std::uniform_int_distribution<std::int32_t>(1, lambda)(random), lambda, 25);
    const Table points = level_model_points(p);
    EXPECT_LT(largest_difference(points, run(p, BlockStateMethod::automatic).tails), 1e-12L)
        << describe(p);
    if (p.blocks <= 12) {
      EXPECT_LT(largest_difference(points, run(p, BlockStateMethod::exact).tails), 1e-12L)
          << describe(p);
    }
  }
}

// Independent blocks given the level are what one block is: exact for l = 1.
// Elsewhere the measured worst differences from the exact model (30
// generations, lambda 10000, mu 2000) are bounds the approximation must keep.
TEST(BlockStateIndependentBlocks, IsExactForOneBlockAndWithinItsMeasuredErrorElsewhere) {
  for (const PointParameters& p :
       {point(4, 0, 1, 0.05L, 3, 10, 12), point(8, 4, 1, 0.3L, 2000, 10000, 12),
        point(5, 2, 1, 0.9L, 7, 5, 12)}) {
    EXPECT_LT(largest_difference(run(p, BlockStateMethod::exact).tails,
                                 run(p, BlockStateMethod::independent_blocks).tails),
              1e-15L)
        << describe(p);
  }
  const struct {
    PointParameters p;
    long double bound;  // absolute, 1.2 times the measured largest
  } measured[] = {
      {point(4, 0, 4, 0.05L, 2000, 10000, 30), 1.53e-5L},
      {point(8, 0, 4, 0.05L, 2000, 10000, 30), 1.25e-4L},
      {point(4, 2, 4, 0.01L, 2000, 10000, 30), 7.0e-9L},
  };
  for (const auto& [p, bound] : measured) {
    const Table exact = run(p, BlockStateMethod::exact).tails;
    const Table approximate = run(p, BlockStateMethod::independent_blocks).tails;
    long double largest = 0;
    for (std::size_t t = 0; t < exact.size(); ++t) {
      for (std::size_t j = 0; j < exact[t].size(); ++j) {
        largest = std::max(largest, std::fabs(exact[t][j] - approximate[t][j]));
      }
    }
    EXPECT_LE(largest, bound) << describe(p);
    EXPECT_GT(largest, bound / 10) << describe(p);  // the bound is the measured one
  }
}

// Bin(n, p) by Pascal's rule, then the convolution term by term.
std::vector<long double> binomial_row(std::int32_t n, long double p) {
  std::vector<long double> row{1.0L};
  for (std::int32_t k = 1; k <= n; ++k) {
    std::vector<long double> next(row.size() + 1, 0.0L);
    for (std::size_t j = 0; j < row.size(); ++j) {
      next[j] += (1 - p) * row[j];
      next[j + 1] += p * row[j];
    }
    row.swap(next);
  }
  return row;
}

// Fixed-seed factors from the ordinary to the extreme (probabilities down to
// 1e-12 from either end), and pairs whose runs leave the range
// 2^-8192..2^8192 and are rescaled: every value the reference holds as a
// normal number agrees in relative terms.
TEST(BinomialConvolution, EqualsTheTermByTermSum) {
  std::mt19937_64 random(77);
  const long double extremes[] = {1e-12L, 1e-6L, 0.5L, 1 - 1e-6L, 1.0L, 0.0L};
  BinomialConvolution convolution(1600);
  auto check = [&](std::int32_t n1, long double p1, std::int32_t n2, long double p2) {
    const std::vector<long double> a = binomial_row(n1, p1), b = binomial_row(n2, p2);
    std::vector<long double> out(static_cast<std::size_t>(n1 + n2) + 1);
    convolution.compute({n1, p1, 1 - p1}, {n2, p2, 1 - p2}, 3.0L, out.data());
    long double largest = 0;
    for (std::size_t m = 0; m < out.size(); ++m) {
      long double sum = 0;
      for (std::size_t k = 0; k < a.size(); ++k) {
        if (m >= k && m - k < b.size()) sum += a[k] * b[m - k];
      }
      if (sum > 0x1p-16000L) largest = std::max(largest, std::fabs(out[m] / 3 - sum) / sum);
    }
    return largest;
  };
  for (int n = 0; n < 300; ++n) {
    const std::int32_t n1 = std::uniform_int_distribution<std::int32_t>(0, 300)(random);
    const std::int32_t n2 = std::uniform_int_distribution<std::int32_t>(0, 300)(random);
    std::uniform_real_distribution<long double> uniform(0, 1);
    const long double p1 = n % 5 == 0 ? extremes[n / 5 % 6] : uniform(random);
    const long double p2 = n % 7 == 0 ? extremes[n / 7 % 6] : uniform(random);
    ASSERT_LT(check(n1, p1, n2, p2), 1e-16L) << n1 << " " << p1 << " " << n2 << " " << p2;
  }
  EXPECT_LT(check(1500, 0.001L, 3, 0.5L), 2e-16L);
  EXPECT_LT(check(1200, 1e-3L, 300, 1e-4L), 2e-16L);
}

// The largest distance, in 95 % half-widths, between the simulated means
// and a model's tails at every generation and level. A half-width is never
// taken below binomial sampling of lambda offspring at the model's value:
// runs that all count none at a level leave a sample half-width of 0.
double largest_distance(const simulation::Summary& s, const PointParameters& p,
                        const Table& model) {
  const double t975 = static_cast<double>(simulation::student_t_975(s.runs - 1));
  double largest = 0;
  for (std::size_t r = 0; r < model.size(); ++r) {
    for (std::int32_t j = 1; j <= p.blocks; ++j) {
      const simulation::Estimate& e = s.fraction_at(static_cast<std::int64_t>(r), j);
      const auto x = static_cast<double>(model[r][static_cast<std::size_t>(j - 1)]);
      const double floor = t975 * std::sqrt(x * (1 - x) / p.lambda / static_cast<double>(s.runs));
      largest = std::max(largest, std::fabs(e.mean - x) / std::max(e.half_width, floor));
    }
  }
  return largest;
}

TEST(BlockStateModel, AgreesWithTheSimulationWhereTheLevelModelDoesNot) {
  const PointParameters p = point(4, 2, 3, 0.05L, 1000, 5000, 12);
  const simulation::Summary s =
      simulation::summarize(simulation::simulate_runs(p, 1, {10, 0, 1}, 2), p.lambda);
  Tails level;
  run_model(p, level);
  EXPECT_LT(largest_distance(s, p, run(p, BlockStateMethod::automatic).tails), 3.0);
  EXPECT_GT(largest_distance(s, p, level.tails), 6.0);
}

// Every generation computed: the tails.
template <class Trajectory, class Mutation>
Table every_generation(const PointParameters& p, const Mutation& mutation) {
  const ExtendedArithmetic arithmetic;
  Trajectory trajectory(mutation);
  LevelSelection selection(p.mu, p.lambda, p.blocks);
  trajectory.start();
  Table tails;
  for (std::int32_t t = 1; t <= p.final_iteration; ++t) {
    if (t > 1) trajectory.select(selection);
    trajectory.breed();
    selection.choose(trajectory.levels());
    tails.emplace_back();
    for (std::int32_t j = 1; j <= p.blocks; ++j) {
      tails.back().push_back(static_cast<double>(selection.tail(j)));
    }
  }
  return tails;
}

template <class Trajectory, class Mutation>
std::int64_t period_of(const PointParameters& p, const Mutation& mutation) {
  const ExtendedArithmetic arithmetic;
  Trajectory trajectory(mutation);
  BlockStateTrajectory<Trajectory> generations(trajectory, p.mu, p.lambda, p.blocks);
  generations.at(p.final_iteration);
  return generations.period();
}

// Runs whose parents recur: a run computes no more generations once it
// knows the period, and what it shows a watching sink is what computing
// them gives. The last two alternate between two tail vectors (every
// position flips almost surely); in the others only the parents' last bits
// recur.
TEST(BlockStateRun, RecurringParentsEndTheComputationNotTheGenerations) {
  for (const PointParameters& p :
       {point(2, 1, 3, 0.01L, 5, 10, 300), point(3, 0, 4, 0.02L, 3, 30, 300),
        point(2, 0, 3, static_cast<long double>(0.99768050883095216), 5, 30, 300),
        point(1, 0, 4, 0.98662337661456823L, 4, 25, 300)}) {
    const BlockStateMutation exact(p.Pmut, p.block_length, p.two_option_positions, p.blocks,
                                   BlockStateMethod::exact);
    const BlockStateMutation independent(p.Pmut, p.block_length, p.two_option_positions, p.blocks,
                                         BlockStateMethod::independent_blocks);
    Tails by_exact, by_independent;
    by_exact.watch = by_independent.watch = true;
    run_block_state_model(exact, p, by_exact);
    run_block_state_model(independent, p, by_independent);
    EXPECT_GT(period_of<CompositionTrajectory>(p, *exact.exact()), 0) << describe(p);
    EXPECT_GT(period_of<IndependentBlocksTrajectory>(p, *independent.independent()), 0)
        << describe(p);
    EXPECT_EQ(every_generation<CompositionTrajectory>(p, *exact.exact()), by_exact.watched)
        << describe(p);
    EXPECT_EQ(every_generation<IndependentBlocksTrajectory>(p, *independent.independent()),
              by_independent.watched)
        << describe(p);
    if (p.Pmut > 0.9L) {
      EXPECT_NE(by_exact.watched[298], by_exact.watched[299]) << describe(p);
    }
  }
}

// The stop number of a run; 0 when it has none. `reports` counts its reports.
int stop_of(const PointParameters& p, std::size_t& reports,
            BlockStateMethod method = BlockStateMethod::automatic) {
  Tails sink;
  try {
    run_block_state_model(
        BlockStateMutation(p.Pmut, p.block_length, p.two_option_positions, p.blocks, method), p,
        sink);
  } catch (const Stop& stop) {
    reports = sink.tails.size();
    return stop.number();
  }
  reports = sink.tails.size();
  return 0;
}

TEST(BlockStateRun, StopsBeforeWhatItCannotCompute) {
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const struct {
    PointParameters p;
    int number;
    std::size_t reports;
  } cases[] = {
      {point(2, 1, 3, -0.1L, 1, 4, 5), 207, 0},  // no probability
      {point(2, 1, 3, 1.5L, 1, 4, 5), 207, 0},
      {point(2, 1, 3, nan, 1, 4, 5), 207, 0},
      {point(2, 1, 3, 0.1L, 1, 0, 5), 200, 0},  // lambda = 0, as the level model
      {point(2, 1, 3, 0.1L, 0, 0, 5), 207, 0},
      {point(2, 1, 3, 0.0L, 0, 4, 5), 200, 0},  // mu = 0: parents at an empty top level
      {point(2, 1, 3, 0.1L, 1, 4, 5), 0, 5},
  };
  for (const auto& c : cases) {
    for (const BlockStateMethod method :
         {BlockStateMethod::exact, BlockStateMethod::independent_blocks}) {
      std::size_t reports = 0;
      EXPECT_EQ(stop_of(c.p, reports, method), c.number) << describe(c.p);
      EXPECT_EQ(reports, c.reports) << describe(c.p);
    }
  }
  std::size_t reports = 0;
  EXPECT_EQ(stop_of(point(8, 4, 30, 0.1L, 1, 4, 5), reports, BlockStateMethod::exact), 203);
#ifndef BLOCKLEVELS_SANITIZED  // where a failed allocation aborts instead of throwing
  EXPECT_EQ(stop_of(point(1 << 20, 0, 2, 0.1L, 1, 4, 5), reports), 203);  // (b + 1)^2 chain
#endif
  const BlockStateMutation other(0.1L, 2, 1, 3);
  Tails sink;
  EXPECT_THROW(run_block_state_model(other, point(2, 1, 4, 0.1L, 1, 4, 5), sink),
               std::invalid_argument);
}

// The sink is called as the level model calls it: start, the reports at the
// same times, every generation to a watching sink until it declines; and a
// requested stop ends the run at the next generation.
TEST(BlockStateRun, CallsTheSinkAsTheLevelModelDoes) {
  PointParameters kind = point(2, 1, 3, 0.2L, 3, 10, 6);
  Tails levels, blocks, by_level, by_block;
  run_model(kind, levels);
  run_block_state_model(kind, blocks);
  run_model(kind, by_level);
  kind.model = ModelKind::block_state;
  run_model(kind, by_block);
  EXPECT_EQ(by_level.tails, levels.tails);
  EXPECT_EQ(by_block.tails, blocks.tails);
  EXPECT_NE(levels.tails, blocks.tails);
  for (const auto& [final_iteration, step] :
       {std::pair{2, 5}, {9, 3}, {10, 4}, {2000000, 1000000}}) {
    PointParameters p = point(2, 1, 3, 0.2L, 3, 10, final_iteration);
    p.step_generations = step;
    Tails level, block;
    run_model(p, level);
    run_block_state_model(p, block);
    EXPECT_EQ(block.times, level.times) << final_iteration << " " << step;
  }
  struct Declining final : ModelSink {
    std::vector<std::int64_t> seen;
    std::stop_source source;
    void start(std::int64_t) override {}
    void report(std::int64_t t, std::span<const double>) override {
      seen.push_back(-t);
      if (t == 6) source.request_stop();
    }
    bool watches_every_generation() const override { return true; }
    bool generation(std::int64_t t, std::span<const double>) override {
      seen.push_back(t);
      return t < 4;
    }
  } sink;
  const PointParameters p = point_parameters(10, 3, 0.2L, 2, 1, 3, 12, 3);
  EXPECT_THROW(run_block_state_model(p, sink, sink.source.get_token()), Cancelled);
  EXPECT_EQ(sink.seen, (std::vector<std::int64_t>{1, 2, 3, -3, 4, -6}));
}

}  // namespace
}  // namespace blocklevels
