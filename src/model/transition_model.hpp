// The block-mutation transition model: the matrix of cumulative level
// transition probabilities M[i][j] = P(offspring level >= j | parent level i),
// and the selection factor applied between generations.
//
// A parent at level i mutates into an offspring at level i - r + k when r of
// its i complete blocks break (each with probability pbreak) and k of its
// l - i incomplete blocks complete (each with probability a). The matrix is
// filled with exactly the sums and products of the literal double sums below,
// in the same order, so every bit agrees with them; only values that the
// literal evaluation recomputes over and over are computed once here:
//
//   down(i, j) = sum over k = 0..l-i of
//                  t(i, k) * sum over r = 0..min(i-j+k, i) of d(i, r),  j <= i
//   up(i, j)   = sum over r = 0..i of
//                  u(i, r) * sum over k = j-i+r..l-i of t(i, k),        j > i
//   t(i, k) = (a^k * C(l-i, k)) * na^(l-i-k)
//   d(i, r) = (pbreak^r * C(i, r)) * pkeep^(i-r)    (survival as for down)
//   u(i, r) = the same with the survival of up
//   C(n, k) = n! / ((n - k)! * k!), each factorial a running product
#pragma once

#include <cstdint>
#include <stop_token>

#include "arithmetic/extended_real.hpp"
#include "model/level_matrix.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// The per-run constants of the mutation step, each computed in extended
// precision in this order. The two survival probabilities differ when acc > 0:
// the lower triangle (down) uses (x/3 + q)^acc * q^(b - acc), the upper
// triangle (up) uses (x/3 + q)^b.
struct MutationConstants {
  long double q = 0;            // 1 - x
  long double a = 0;            // an incomplete block completes: 2x/3 if acc > 0, else x/3
  long double na = 0;           // 1 - a
  long double pkeep_down = 0;   // a complete block survives, lower triangle
  long double pbreak_down = 0;  // 1 - pkeep_down
  long double pkeep_up = 0;     // a complete block survives, upper triangle
  long double pbreak_up = 0;    // 1 - pkeep_up
};

// Exponents are taken as their low 16 bits (b - acc wraps like 32-bit
// arithmetic first), as int_power requires.
MutationConstants mutation_constants(long double x, std::int32_t b, std::int32_t acc);

// 0 when y >= mu / lambda, else 1 - (lambda * y) / mu: the share of the mu
// selected parents that lies below a level reached by a fraction y of the
// lambda offspring. lambda = 0 divides by zero (raising the division by
// zero flag, or the invalid operation flag for 0/0 when mu = 0 too), and so
// does mu = 0 for y < 0; the caller tests the flags.
long double selection_shortfall(std::int32_t mu, std::int32_t lambda, long double y);

// M for mutation probability x, block length b, acc two-option positions
// and l blocks: down(i, j) for 1 <= j <= i, up(i, j) for i < j <= l; column
// 0 stays 0. Costs O(l^3) operations and O(l^2) memory. Computes in its own
// ExtendedArithmetic scope. A floating-point failure throws Stop with the
// number of the failure the literal evaluation meets first: from l = 1755
// on the factorials overflow (205), a value beyond the double range is an
// overflow where it is stored (205). A stop requested through `cancel` throws
// Cancelled before the next row. Precondition: 1 <= l.
LevelMatrix build_transition_matrix(long double x, std::int32_t b, std::int32_t acc, std::int32_t l,
                                    const std::stop_token& cancel = {});
// The same for a point's Pmut, block length, two-option positions and blocks.
LevelMatrix build_transition_matrix(const PointParameters& p, const std::stop_token& cancel = {});

}  // namespace blocklevels
