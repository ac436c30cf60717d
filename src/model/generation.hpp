// One generation of truncation selection and mutation on the tail vector
// (tail[j - 1] = fraction of the offspring at level >= j, j = 1..l):
//   A'[j] = M[l][j] - sum over i = 1..l of (M[i][j] - M[i-1][j]) * shortfall(A[i]),
// computed as sum <- 0; sum <- sum + (M[i-1][j] - M[i][j]) * s_i for
// i = 1..l; sum <- sum + M[l][j], in extended precision, every new value
// formed from the old vector before any is replaced.
#pragma once

#include <cstdint>
#include <vector>

#include "model/level_matrix.hpp"

namespace blocklevels {

class GenerationStep {
 public:
  // Copies M column by column; allocates everything it needs here.
  GenerationStep(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda);

  // Advances the l values at `tail` by one generation. Returns true when
  // they came out bit for bit unchanged. Must run inside an
  // ExtendedArithmetic scope; a floating-point failure throws Stop (200 or
  // 207 for lambda = 0, 205 for a value beyond the double range, 207 for an
  // invalid operation), leaving `tail` as it was.
  bool advance(double* tail);

 private:
  std::size_t l_;
  std::int32_t mu_;
  std::int32_t lambda_;
  // M column by column: columns_[(j - 1) * (l + 1) + i] = M[i][j], so that a
  // column's differences M[i-1][j] - M[i][j] are read from adjacent doubles.
  std::vector<double> columns_;
  std::vector<long double> top_row_;  // M[l][j]
  std::vector<double> next_;
  // The levels whose shortfall is not 0, and their shortfalls: a term with a
  // shortfall of 0 adds a zero and leaves the sum's bits unchanged. That
  // holds while every difference of the matrix is finite; a matrix that
  // holds an infinity (an infinite Pmut) takes every level, so that its
  // infinity times 0 is the invalid operation it is.
  std::vector<std::size_t> active_levels_;
  std::vector<long double> active_shortfalls_;
  bool every_level_ = false;
};

}  // namespace blocklevels
