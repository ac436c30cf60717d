// One generation of truncation selection and mutation on the tail vector:
//   A'[j] = M[l][j] - sum over i = 1..l of (M[i][j] - M[i-1][j]) * shortfall(A[i]),
// computed as sum <- 0; sum <- sum + (M[i-1][j] - M[i][j]) * s_i for
// i = 1..l; sum <- sum + M[l][j], in extended precision, then rounded to
// double in C and copied into A (a synchronous update).
#pragma once

#include <cstdint>
#include <vector>

#include "model/transition_model.hpp"

namespace blocklevels {

class GenerationStep {
 public:
  // Copies M column by column. Allocates everything it needs here.
  GenerationStep(const LevelModel& model, std::int32_t mu, std::int32_t lambda);

  // Advances model.A by one generation through model.C. Returns true when A
  // came out bit for bit unchanged: then every later generation leaves it
  // unchanged too, since a generation depends on A alone.
  bool advance(LevelModel& model);

 private:
  std::int32_t l_;
  std::int32_t mu_;
  std::int32_t lambda_;
  // M column by column: columns_[(j - 1) * (l + 1) + i] = M[i][j], so that a
  // column's differences M[i-1][j] - M[i][j] are read from adjacent doubles.
  std::vector<double> columns_;
  std::vector<long double> top_row_;  // M[l][j]
  // The levels whose shortfall is not 0, and their shortfalls: a term with a
  // shortfall of 0 adds a zero and leaves the sum's bits unchanged.
  std::vector<std::size_t> active_levels_;
  std::vector<long double> active_shortfalls_;
};

}  // namespace blocklevels
