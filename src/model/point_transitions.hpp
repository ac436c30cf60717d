// The point transitions T[i][k] (transition_terms.hpp), stored as a
// generation of the accurate evaluation reads them: the offspring levels k
// in groups of kWidth from the top level down (single levels at the
// bottom, when l is not a multiple of kWidth), each group with
// - bounds for leaving out negligible terms: every T[i'][k] of the group
//   with i' <= i is below 2^below[i], every one with i' >= i below
//   2^above[i] (kNoTerm where they are all 0); below never falls as i
//   rises, above never rises;
// - its entries as pairs of doubles, parent by parent: T[i][k] 2^sigma =
//   hi + lo exactly, with one power of two sigma per block of kBlock parent
//   levels, so that a generation loads doubles (an extended value costs
//   several times more to load). The pairs are exact for a block when each
//   scaled entry is 0 or at least 2^-1011 (then lo's last bit is within the
//   double range), and finite; a block whose entries span more than that
//   (a Pmut below about 1e-19) keeps its extended entries instead.
// Built once per mutation and shared by every run that uses it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <span>
#include <vector>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

class PointTransitions {
 public:
  static constexpr std::size_t kBlock = 16;  // parent levels per scaled block
  // Offspring levels summed together: six sums, the share and one term
  // fill the eight x87 registers.
  static constexpr std::size_t kWidth = 6;
  static constexpr std::int16_t kNoTerm = std::numeric_limits<std::int16_t>::min();

  struct Group {
    std::size_t low = 0, high = 0;  // offspring levels low..high: one or kWidth
    std::size_t first_bound = 0;    // its bounds in below_ and above_, l + 1 of each
    std::size_t first_block = 0;    // its blocks in factors_ and extended_at_
    std::size_t first_pair = 0;     // its pairs: 2 (high - low + 1) doubles per parent
  };

  // Every entry 0 until stored. Precondition: l >= 1.
  explicit PointTransitions(std::int32_t l);

  std::int32_t l() const { return static_cast<std::int32_t>(rows_ - 1); }
  // Whether every entry is finite (always, for 0 <= Pmut <= 1).
  bool finite() const { return finite_; }
  // T[i][k], 0 <= i <= l, 1 <= k <= l.
  long double at(std::int32_t i, std::int32_t k) const;

  std::span<const Group> groups() const { return groups_; }
  const std::int16_t* below(const Group& g) const { return &below_[g.first_bound]; }
  const std::int16_t* above(const Group& g) const { return &above_[g.first_bound]; }
  // hi and lo of T[i][low], T[i][low + 1], ... times 2^sigma of i's block.
  const double* pairs(const Group& g, std::size_t i) const {
    return &pairs_[g.first_pair + i * 2 * (g.high - g.low + 1)];
  }
  // 2^-sigma of a block of parent levels (i / kBlock); whether its pairs
  // hold the entries exactly; where they do not, T[i][low..high].
  long double factor(const Group& g, std::size_t block) const {
    return factors_[g.first_block + block];
  }
  bool exact(const Group& g, std::size_t block) const {
    return extended_at_[g.first_block + block] == kExact;
  }
  const long double* extended(const Group& g, std::size_t i) const;

  // For the build: stores the entries of the parent levels of one block,
  // block by block from level 0 up; rows[(i - first) * (l + 1) + k] is
  // T[i][k] (column 0 unused). Then finish() completes the bounds.
  void store_block(std::size_t first, const long double* rows);
  void finish();

 private:
  static constexpr std::size_t kExact = std::numeric_limits<std::size_t>::max();

  std::size_t width(const Group& g) const { return g.high - g.low + 1; }
  void store_group_block(const Group& g, std::size_t first, std::size_t end,
                         const long double* rows);

  std::size_t rows_;  // parent levels 0..l
  std::vector<Group> groups_;
  std::vector<std::size_t> group_of_level_;  // the group of offspring level k
  std::vector<std::int16_t> below_, above_;
  std::vector<long double> factors_;
  std::vector<std::size_t> extended_at_;  // a block's entries in extended_, or kExact
  std::unique_ptr<double[]> pairs_;       // each written once by store_block
  std::vector<long double> extended_;
  bool finite_ = true;
};

}  // namespace blocklevels
