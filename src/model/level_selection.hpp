// Truncation selection on the level, as the level model applies it, from
// the offspring's point probabilities per level instead of differences of
// tails: the selected parents at level >= i are a fraction
// min(1, lambda A_i / mu) of all parents, A_i the offspring's fraction at
// level >= i (and all parents are at level >= 0). Below the cut level c, the
// highest level with A_c >= mu / lambda (0 when there is none), nothing is
// selected; above it every offspring is, each lambda / mu times over; at c,
// the share 1 - lambda A_{c+1} / mu of the parents (all of them when c = l).
// Within a level the selection does not look at anything else, so the
// parents at a level are the offspring there, scaled by the level's factor.
#pragma once

#include <cstdint>
#include <vector>

namespace blocklevels {

class LevelSelection {
 public:
  // Precondition: l >= 1.
  LevelSelection(std::int32_t mu, std::int32_t lambda, std::int32_t l);

  // Chooses from the offspring's masses levels[0..l] (non-negative): the
  // tails A_0..A_l, each a sum of point probabilities from the top level
  // down, the cut and every level's factor. Inside an ExtendedArithmetic
  // scope; lambda = 0 raises the division by zero flag (0/0, invalid, when
  // mu = 0 too), and so does a cut level without offspring (possible only
  // with mu = 0): the caller tests the flags.
  void choose(const long double* levels);

  // A_j = the offspring's fraction at level >= j, j = 0..l.
  long double tail(std::int32_t j) const { return tail_[index(j)]; }
  std::int32_t cut() const { return cut_; }
  // Parent mass over offspring mass at level i: 0 below the cut,
  // lambda / mu above it.
  long double factor(std::int32_t i) const { return factor_[index(i)]; }

 private:
  static std::size_t index(std::int32_t i) { return static_cast<std::size_t>(i); }

  std::int32_t mu_;
  std::int32_t lambda_;
  std::int32_t l_;
  long double above_cut_;  // lambda / mu
  std::int32_t cut_ = 0;
  std::vector<long double> tail_;
  std::vector<long double> factor_;
};

}  // namespace blocklevels
