// The exact infinite-population block-state model: an individual is the
// composition of its l blocks over the block states (how many blocks are
// in each), and the population a distribution over all compositions.
//
// Mutation moves every block independently by the block chain T. It is
// applied to the distribution over compositions as a sequence of binomial
// splits, each moving blocks between two neighbouring states, in place and
// with non-negative terms only:
//  - each kind of position is a chain right <-> wrong with r -> w
//    probability p and w -> r probability q. When p + q <= 1 it is "thin,
//    then add": every wrong position turns right with probability
//    q / (1 - p), then every right one (those just fixed too) turns wrong
//    with probability p. When p + q > 1 (Pmut > 3/4) every position first
//    swaps right and wrong, and then follows the chain with 1 - q and 1 - p,
//    whose sum is below 1.
//  - thinning n wrong positions, each turning right with probability t, is
//    the product B_n ... B_1 (B_n first), where B_m turns one wrong position
//    right with probability t in every block with at least m wrong ones (the
//    m-th wrong position, if there is one). Adding is thinning of the right
//    positions.
//  - B_m moves blocks from count c to c - 1 for c = m..n. On compositions it
//    is a binomial split per count: of the blocks in the state with count c,
//    Bin(n_c, t) move to the state with count c - 1. Taken in increasing c,
//    and over compositions in the order in which every target comes before
//    its source, each split runs in place: no block moves twice.
// Selection scales every composition by the factor of its level (the
// number of blocks in the complete state 0).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "model/binomial_rows.hpp"
#include "model/block_states.hpp"
#include "model/composition_space.hpp"
#include "model/level_selection.hpp"

namespace blocklevels {

// What the exact model needs of the mutation alone (Pmut, b, acc, l). Read
// only once built, so that points with other mu and lambda share it.
class CompositionMutation {
 public:
  // One binomial split: blocks in state `from` move to state `to` each with
  // the probability of `table`.
  struct Split {
    std::int32_t from;
    std::int32_t to;
    std::int32_t table;
  };

  // Throws std::bad_alloc when the compositions do not fit. Computes in the
  // caller's floating-point environment.
  CompositionMutation(const BlockStates& states, std::int32_t l);

  const CompositionSpace& space() const { return space_; }
  std::int32_t blocks() const { return space_.blocks(); }
  // The composition of the algorithm's start: every block in the start state.
  std::size_t start() const { return start_; }
  std::size_t split_count() const { return splits_.size(); }
  bool swaps() const { return !swap_.empty(); }

  // Mutates the distribution `weights` (space().size() values) in place;
  // `scratch` holds as many.
  void mutate(std::vector<long double>& weights, std::vector<long double>& scratch) const;

 private:
  void add_kind(const BlockStates& states, bool two_option, const PositionKind& kind);
  void split(long double* weights, const Split& split) const;

  CompositionSpace space_;
  std::size_t start_ = 0;
  std::vector<std::uint32_t> swap_;  // empty, or each composition's rank after the swap
  std::vector<Split> splits_;
  std::vector<BinomialRows> tables_;
};

// A point's run of the exact model: the parents, then the offspring of one
// generation after another.
class CompositionTrajectory {
 public:
  explicit CompositionTrajectory(const CompositionMutation& mutation);

  // The parents of the start.
  void start();
  // The offspring of the parents; levels() then holds their masses.
  void breed();
  // levels()[i] = the offspring's mass at level i, i = 0..l.
  const long double* levels() const { return levels_.data(); }
  // The offspring chosen by `selection` (made from levels()) become the
  // parents.
  void select(const LevelSelection& selection);

  // The parents, to be compared with later ones: what a generation's
  // offspring depend on.
  void copy_parents(std::vector<long double>& to) const { to = weights_; }
  bool parents_equal(const std::vector<long double>& saved) const { return weights_ == saved; }

 private:
  const CompositionMutation& mutation_;
  std::vector<long double> weights_;
  std::vector<long double> scratch_;  // for the swap of Pmut > 3/4 only
  std::vector<long double> levels_;
};

}  // namespace blocklevels
