// The simulation's totals, field for field, against a slow, literal run of
// the algorithm: every offspring a full copy of its parent, mutated in place,
// its level recounted from its alleles, selection by sorting. It draws from
// the generator in the order the program does (per offspring the parent, then
// each mutated position's gap and new allele; then selection's tie-breaking),
// so any change in what the program computes or draws shows as a difference.
// Its gaps are the literal extended-precision quotients, position by position.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <vector>

#include "simulation/mutation_positions.hpp"
#include "simulation/random_draws.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels::simulation {
namespace {

using Chromosome = std::vector<std::uint8_t>;

std::int32_t literal_level(const Chromosome& c, const PointParameters& p) {
  std::int32_t level = 0;
  for (std::size_t start = 0; start < c.size(); start += static_cast<std::size_t>(p.block_length)) {
    bool complete = true;
    for (std::size_t i = 0; i < static_cast<std::size_t>(p.block_length); ++i) {
      const std::uint8_t a = c[start + i];
      complete =
          complete && (a == 0 || (a == 1 && i < static_cast<std::size_t>(p.two_option_positions)));
    }
    level += complete ? 1 : 0;
  }
  return level;
}

// The stream of mutated positions, position by position, with every gap
// floor(logl(U) / ln(1 - pmut)) in extended precision, U = (k + 1) 2^-64 from
// the next 64 bits, high half first; a gap of 2^62 or more is an event that
// mutates nothing and is followed by a gap drawn afresh.
class LiteralPositions {
 public:
  LiteralPositions(long double pmut, pcg32& rng)
      : always_(pmut == 1.0L), log_keep_(pmut == 0.0L || always_ ? 0 : log_one_minus(pmut)) {
    if (always_ || log_keep_ != 0) draw(rng);
  }
  // Calls mutate(i) for each mutated position i of the next `length`.
  template <class Mutate>
  void next_chromosome(std::uint64_t length, pcg32& rng, Mutate&& mutate) {
    for (std::uint64_t i = 0; i < length; ++i) {
      while ((always_ || log_keep_ != 0) && until_ == 0) {
        if (!mutates_) {
          draw(rng);
          continue;
        }
        mutate(i);
        draw(rng);
        ++until_;
        break;
      }
      if (until_ > 0) --until_;
    }
  }

 private:
  void draw(pcg32& rng) {
    if (always_) return;
    const std::uint64_t high = rng();
    const std::uint64_t k = (high << 32) | rng();
    const long double q = std::log((static_cast<long double>(k) + 1) * 0x1p-64L) / log_keep_;
    mutates_ = q < 0x1p62L;
    until_ = static_cast<std::uint64_t>(mutates_ ? q : 0x1p62L);
  }

  bool always_;
  long double log_keep_;
  bool mutates_ = true;
  std::uint64_t until_ = 0;  // positions before the next event
};

RunTotals literal_totals(const PointParameters& p, std::uint64_t seed, std::uint64_t runs) {
  RunTotals totals = empty_totals(p);
  const auto length = static_cast<std::size_t>(p.blocks) * static_cast<std::size_t>(p.block_length);
  const auto mu = static_cast<std::size_t>(p.mu);
  for (std::uint64_t r = 0; r < runs; ++r) {
    pcg32 rng(seed, r);
    Chromosome start(length, 0);
    for (std::size_t i = 0; i < length; i += static_cast<std::size_t>(p.block_length))
      start[i] = p.two_option_positions == 0 ? 1 : 2;
    std::vector<Chromosome> parents(mu, start);
    LiteralPositions positions(p.Pmut, rng);
    std::int64_t report = 0;
    for (std::int64_t t = 1; t <= last_report_time(p); ++t) {
      std::vector<Chromosome> offspring;
      std::vector<std::int32_t> levels;
      for (std::int32_t c = 0; c < p.lambda; ++c) {
        Chromosome child = parents[uniform_below(rng, static_cast<std::uint32_t>(mu))];
        positions.next_chromosome(length, rng,
                                  [&](std::uint64_t i) { child[i] = other_allele(rng, child[i]); });
        levels.push_back(literal_level(child, p));
        offspring.push_back(child);
      }
      if (t == report_time(p, report)) {
        std::vector<std::int32_t> histogram(static_cast<std::size_t>(p.blocks) + 1);
        for (const std::int32_t level : levels) ++histogram[static_cast<std::size_t>(level)];
        totals.add_report(report++, histogram);
      }
      if (t == last_report_time(p)) break;
      std::vector<std::int32_t> sorted = levels;
      std::sort(sorted.begin(), sorted.end(), std::greater<>());
      const std::int32_t threshold = sorted[mu - 1];
      std::vector<std::size_t> chosen, ties;
      for (std::size_t c = 0; c < levels.size(); ++c) {
        if (levels[c] > threshold) chosen.push_back(c);
        if (levels[c] == threshold) ties.push_back(c);
      }
      const std::size_t need = mu - chosen.size();
      for (std::size_t i = 0; need < ties.size() && i < need; ++i) {
        const auto left = static_cast<std::uint32_t>(ties.size() - i);
        std::swap(ties[i], ties[i + uniform_below(rng, left)]);
      }
      chosen.insert(chosen.end(), ties.begin(), ties.begin() + static_cast<std::ptrdiff_t>(need));
      for (std::size_t k = 0; k < mu; ++k) parents[k] = offspring[chosen[k]];
    }
    totals.count_run();
  }
  return totals;
}

// Fields: lambda, mu, pmut, block_length, two_option, blocks, final, step.
TEST(SimulationReference, TotalsEqualThoseOfACopyingRunBitForBit) {
  const PointParameters cases[] = {
      {20, 5, 0.0L, 3, 0, 4, 10, 1},      // no mutation: every selection all ties
      {30, 10, 1e-30L, 2, 1, 5, 12, 3},   // a pmut whose logarithm underflows
      {24, 6, 2e-4L, 5, 2, 40, 50, 5},    // a mutation every few generations
      {40, 8, 0.001L, 4, 0, 30, 60, 1},   // the benchmark's pmut and block length
      {25, 1, 0.05L, 1, 0, 20, 40, 4},    // mu 1, blocks of one position
      {25, 25, 0.05L, 5, 2, 6, 30, 7},    // mu = lambda: no selection draws
      {50, 20, 0.02L, 4, 4, 10, 80, 10},  // every position two-option
      {16, 4, 0.3L, 6, 3, 4, 25, 2},      // several mutations per block
      {12, 6, 0.1L, 3, 0, 8, 20, 30},     // one report, after the final generation
      {10, 3, 1.0L, 2, 1, 5, 9, 1},       // every position mutates
      {9, 4, 0.5L, 1, 1, 3, 40, 1},       // blocks of one two-option position
      {12, 4, 0.002L, 997, 3, 3, 20, 2},  // long blocks: block_of's multiplication
  };
  std::uint64_t seed = 17;
  for (const PointParameters& p : cases) {
    const RunTotals literal = literal_totals(p, seed, 3);
    EXPECT_TRUE(simulate_runs(p, seed, {3, 0, 1}, 2) == literal)
        << "lambda " << p.lambda << " mu " << p.mu << " pmut " << static_cast<double>(p.Pmut)
        << " block_length " << p.block_length << " two_option " << p.two_option_positions
        << " blocks " << p.blocks << " final " << p.final_iteration << " step "
        << p.step_generations << " seed " << seed;
    ++seed;
  }
}

}  // namespace
}  // namespace blocklevels::simulation
