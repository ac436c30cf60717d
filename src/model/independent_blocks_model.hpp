// The block-state model with independent blocks: an approximation of the
// exact composition model (composition_model.hpp) for any number of blocks.
//
// Assumption: given its level i, an individual's l - i incomplete blocks are
// independent and alike, each in incomplete state s with probability
// q_i(s), one distribution per level. The population is then the level
// masses g_i and the distributions q_i. It is exact when l = 1 and when
// b = 1 (one incomplete state); elsewhere it drops the correlations between
// the incomplete blocks of one individual (an individual whose blocks broke
// recently has more of them close to complete).
//
// One generation, for a parent at level i: each of its i complete blocks
// stays complete with probability p1 = T(0, 0) and breaks into state s with
// T(0, s); each incomplete block moves by r_i = q_i T, completing with
// p2 = r_i(0). The offspring's level is K1 + K2, K1 ~ Bin(i, p1) the kept
// and K2 ~ Bin(l - i, p2) the completed blocks. At offspring level m it
// has, in expectation over K1 + K2 = m, i C1(m) T(0, s) broken blocks and
// (l - i) C2(m) r_i(s) incomplete ones in state s, where
//   C1 = Conv(Bin(i - 1, p1), Bin(l - i, p2)),
//   C2 = Conv(Bin(i, p1), Bin(l - i - 1, p2))
// (k Bin(n, p)(k) = n p Bin(n - 1, p)(k - 1), and (n - k) Bin(n, p)(k) =
// n q Bin(n - 1, p)(k)); their sum over s is (l - m) P(K1 + K2 = m). So
// every offspring level's mass and its blocks' state distribution are sums
// of non-negative terms, and C1 and C2 come from the cancellation-free
// recurrence of binomial_convolution.hpp in O(l) each: a generation costs
// O(l) per parent level, and O(K) per parent level and offspring level at
// or above the next cut for the states.
#pragma once

#include <cstdint>
#include <vector>

#include "model/binomial_convolution.hpp"
#include "model/block_states.hpp"
#include "model/level_selection.hpp"

namespace blocklevels {

// What the model needs of the mutation alone (Pmut, b, acc, l).
class IndependentBlocksMutation {
 public:
  // Precondition: l >= 1.
  IndependentBlocksMutation(const BlockStates& states, std::int32_t l);

  const BlockStates& states() const { return states_; }
  std::int32_t blocks() const { return l_; }
  long double keep() const { return keep_; }     // T(0, 0)
  long double broken() const { return break_; }  // sum over s >= 1 of T(0, s)
  long double broken_to(std::int32_t s) const { return broken_to_[static_cast<std::size_t>(s)]; }

 private:
  BlockStates states_;
  std::int32_t l_;
  long double keep_;
  long double break_;
  std::vector<long double> broken_to_;  // T(0, s), s = 0..K-1 (entry 0 unused)
};

class IndependentBlocksTrajectory {
 public:
  explicit IndependentBlocksTrajectory(const IndependentBlocksMutation& mutation);

  // The parents of the start: all at level 0, every block in the start state.
  void start();
  // The offspring of the parents; levels() then holds their masses.
  void breed();
  const long double* levels() const { return levels_.data(); }
  // The offspring chosen by `selection` (made from levels()) become the
  // parents: the levels' masses scaled by their factors, and the state
  // distributions of the levels selected from.
  void select(const LevelSelection& selection);

  // The parents, to be compared with later ones: what a generation's
  // offspring depend on.
  void copy_parents(std::vector<long double>& to) const;
  bool parents_equal(const std::vector<long double>& saved) const;

 private:
  std::size_t states_at(std::int32_t level) const {
    return static_cast<std::size_t>(level) * static_cast<std::size_t>(k_);
  }
  std::size_t levels_at(std::int32_t level) const {
    return static_cast<std::size_t>(level) * static_cast<std::size_t>(l_);
  }
  void breed_from(std::int32_t i);
  void offspring_states(std::int32_t from);

  const IndependentBlocksMutation& mutation_;
  std::int32_t l_;
  std::int32_t k_;
  BinomialConvolution convolution_;
  // Parents: mass per level, and per level below l its blocks' state
  // distribution (k_ values, entry 0 zero).
  std::vector<long double> mass_;
  std::vector<long double> states_;
  // Offspring of the last breed(): level masses, and what their states are
  // made of: per parent level i bred from, r_i and the row w_i(m) =
  // g_i (l - i) C2(m); and the sum over parents of g_i i C1(m).
  std::vector<long double> levels_;
  std::vector<std::int32_t> bred_from_;
  std::vector<long double> moved_;     // r_i, k_ per level
  std::vector<long double> stayed_;    // w_i(m), l per level
  std::vector<long double> broke_;     // sum of g_i i C1(m), m = 0..l-1
  std::vector<long double> mass_sum_;  // sum of (g_i i C1(m) q1 + w_i(m) q2_i)
  std::vector<long double> c1_, c2_, scratch_;
};

}  // namespace blocklevels
