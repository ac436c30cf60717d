// One generation of the accurate evaluation, on the offspring's point
// probabilities p[k] = P(level = k), k = 1..l (level 0 holds the rest), with
// their tails A[k] = p[k] + ... + p[l] carried beside them, all extended:
//
//   G[i] = 1 when A[i] >= mu / lambda, else (lambda A[i]) / mu
//          (G[0] = 1, G[l + 1] = 0): the selected parents' share at or
//          above i, 1 minus selection_shortfall;
//   s[i] = G[i] - G[i + 1], the selected parents' share at level i:
//          (lambda p[i]) / mu             where neither i nor i + 1 is full,
//          1 - (lambda A[i + 1]) / mu     at the cut (i full, i + 1 not),
//          0                              below the cut;
//   p'[k] = sum over i of s[i] T[i][k];  A'[k] = p'[k] + A'[k + 1].
//
// This is the literal generation, A'[j] = M[0][j] + sum over i of
// (M[i][j] - M[i-1][j]) G[i], summed by parts: A'[j] = sum over i of
// s[i] M[i][j], and M[i][j] = T[i][j] + ... + T[i][l]. For 0 <= Pmut <= 1
// every s[i] and T[i][k] is non-negative except at two places, so p' and
// A' are sums of non-negative terms and keep their relative precision
// however small they are (down to the extended range):
// - The share at the cut, 1 - (lambda A[c + 1]) / mu, is a difference by
//   the model's definition: it is the share of the mu parents that the
//   levels above the cut leave to level c. Its error is that of
//   (lambda A[c + 1]) / mu, at most about (l + 2) units of 2^-64 of it,
//   since A[c + 1] is a sum of positive terms: the error the model itself
//   shows when A[c + 1] moves by its own rounding. It enters A'[j] as that
//   error times M[c][j], and A'[j] holds the parents above the cut, whose
//   share is (lambda A[c + 1]) / mu and whose M[i][j] is at least M[c][j]
//   wherever M does not fall as the parent level rises (a complete block
//   at least as likely to stay complete as an incomplete one to complete;
//   with blocks of 4, any Pmut up to 0.38): so A'[j] keeps its relative
//   precision too.
// - T[i][i] where the two survival formulas differ (transition_terms.hpp):
//   its error is at most about 2(l + 4) units of 2^-64 of the tail above i.
// - The terms a generation leaves out, each group's from parents far below
//   or far above it, total at most 2^-72 of the tail above the group.
// A point probability p[i] much smaller than the tail above it may thus
// carry an error of a few units of 2^-64 of that tail (from T[i][i], the
// terms left out, or the share at the cut in the previous generation). It enters the
// next generation as lambda/mu times that error in s[i], the same error as
// a rounding of the tail above i, and adds to each new tail at most that
// error times M[i][j], which the parents above i also reach: again a few
// units of 2^-64 of the tail.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "model/extended_bits.hpp"
#include "model/point_transitions.hpp"

namespace blocklevels {

// The state a generation reads and writes: points[k - 1] = p[k] and
// tails[k - 1] = A[k], k = 1..l. The tails follow from the points, so the
// points alone tell whether a state recurs.
struct PointState {
  explicit PointState(std::size_t l) : points(l), tails(l) {}
  std::vector<long double> points;
  std::vector<long double> tails;
};

class PointGeneration {
 public:
  // `transitions` must outlive the generation. Allocates everything it needs here.
  PointGeneration(const PointTransitions& transitions, std::int32_t mu, std::int32_t lambda);

  // Advances `state` by one generation. Returns true when its points came
  // out bit for bit unchanged. Must run inside an ExtendedArithmetic scope;
  // a floating-point failure throws Stop (200 or 207 for lambda = 0, as the
  // literal generation; 205 for an overflow, 207 for an invalid operation),
  // leaving `state` as it was.
  bool advance(PointState& state);

 private:
  void select(const PointState& state);
  void sum_offspring();
  template <std::size_t width>
  [[gnu::always_inline]] inline void sum_group(const PointTransitions::Group& g, std::size_t first,
                                               std::size_t last);

  const PointTransitions& t_;
  std::size_t l_;
  std::int32_t mu_;
  std::int32_t lambda_;
  // The levels whose share is not 0, and their shares: a term with a share
  // of 0 adds nothing while every T[i][k] is finite; with an infinite or
  // NaN entry (a Pmut beyond [0, 1]) every level takes part, so that the
  // invalid operation 0 * infinity is raised as it is.
  std::vector<std::size_t> active_levels_;
  std::vector<long double> active_shares_;
  std::size_t active_ = 0;
  long double share_total_ = 0.0L;  // the sum of |s[i]|: 1 for 0 <= Pmut <= 1
  PointState next_;
};

}  // namespace blocklevels
