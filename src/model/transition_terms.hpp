// The level model's point transition probabilities, for the accurate
// evaluation: T[i][k] = P(offspring level = k | parent level i) =
// M[i][k] - M[i][k + 1] (M[i][l + 1] = 0), for parent levels i = 0..l and
// offspring levels k = 1..l, M being the cumulative matrix of
// transition_model.hpp with both of its survival formulas (down's for
// k <= i, up's for k > i). No entry is a difference of cumulative values:
// each is summed from the unrounded binomial terms, in extended precision,
//
//   T[i][k] = sum over n of t(i, n) * d(i, i - k + n)        k < i
//   T[i][k] = sum over r of u(i, r) * t(i, k - i + r)        k > i
//   T[i][i] = sum over n of t(i, n) * d(i, n)
//             - sum over r of W(i, r + 1) * (u(i, r) - d(i, r))
//   W(i, r) = t(i, r) + ... + t(i, l - i)    (at least r completions)
//
// with t, d and u the terms of transition_model.hpp (n completions, r
// breaks; d with down's survival, u with up's). The correction of T[i][i]
// is up(i, i + 1) - down(i, i + 1), what rises above i under up's survival
// minus under down's: 0 when the two formulas agree (acc <= 0 or acc = b).
//
// Accuracy, for 0 <= Pmut <= 1: every term is a product of non-negative
// factors, each within a few times l units of 2^-64 (powers are repeated
// products, a binomial coefficient a quotient of factorials, and the
// breaking probabilities 1 - pkeep are sums of positive terms, not
// differences), so every entry off the diagonal, and the diagonal when the
// formulas agree, keeps about 2l + 8 units of 2^-64 of relative error, down
// to the smallest normal extended value (about 3.4e-4932). Where the
// formulas differ, the correction's terms have both signs, and no
// rearrangement avoids that: the model defines T[i][i] as that difference.
// Its error is at most about (l + 4) units of 2^-64 times
// up(i, i + 1) + down(i, i + 1) <= 2 up(i, i + 1) (down's survival is the
// smaller one). In a generation, parent level i contributes s_i up(i, i + 1)
// to the tail at i + 1, so the error it adds to any tail at or below i is
// at most about 2(l + 4) units of 2^-64 of the tail at i + 1, and so of its
// own wherever the tails do not rise with the level: the tails keep their
// relative precision. Only a point probability at i much smaller than the
// tail above it may lose digits (see point_generation.hpp for why that is
// harmless). The model's tails may rise with the level only where T[i][i]
// < 0, M[i][i] < M[i][i + 1]: with a large Pmut, where up's survival is
// many times down's (b = 8, acc = 2, Pmut 0.27, l = 40: M[30][30] = 2.4e-20,
// M[30][31] = 4.7e-15); there a tail keeps that precision relative to the
// larger tail above it.
#pragma once

#include <cstdint>
#include <stop_token>

#include "arithmetic/extended_real.hpp"
#include "model/point_transitions.hpp"

namespace blocklevels {

// The mutation's constants for the accurate evaluation. The same values as
// MutationConstants in exact arithmetic; the breaking probabilities are
// computed without cancellation.
struct AccurateSurvival {
  long double a = 0;            // an incomplete block completes: 2x/3 if acc > 0, else x/3
  long double na = 0;           // 1 - a
  long double pkeep_down = 0;   // (x/3 + q)^acc * q^(b - acc), or q^b when acc <= 0
  long double pbreak_down = 0;  // 1 - pkeep_down, as a sum of positive terms
  long double pkeep_up = 0;     // (x/3 + q)^b, or q^b when acc <= 0
  long double pbreak_up = 0;    // 1 - pkeep_up, likewise
  bool one_survival = true;     // the two formulas agree: acc <= 0 or acc = b
};

// Exponents are taken as their low 16 bits, as in mutation_constants.
AccurateSurvival accurate_survival(long double x, std::int32_t b, std::int32_t acc);

// T for mutation probability x, block length b, acc two-option positions
// and l blocks. Costs at most about l^3 / 6 products (for 0 <= Pmut <= 1 a
// sum stops once the products left are below 2^-72 of it, which they never
// exceed in total: far fewer for a small Pmut) and about 16 l^2 bytes.
// Computes in its own ExtendedArithmetic scope. A floating-point failure
// throws Stop: from l = 1755 on the factorials overflow (205), as in the
// literal evaluation; otherwise the first raised flag of a stage, overflow
// (205) before invalid operation (207) before division by zero (200). A
// stop requested through `cancel` throws Cancelled before the next parent
// level. Precondition: 1 <= l.
PointTransitions build_point_transitions(long double x, std::int32_t b, std::int32_t acc,
                                         std::int32_t l, const std::stop_token& cancel = {});

}  // namespace blocklevels
