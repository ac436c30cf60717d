#include "model/generation.hpp"

#include <cstring>

#include "model/transition_model.hpp"

namespace blocklevels {

GenerationStep::GenerationStep(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda)
    : l_(static_cast<std::size_t>(m.n())),
      mu_(mu),
      lambda_(lambda),
      columns_(l_ * (l_ + 1)),
      top_row_(l_),
      next_(l_),
      active_levels_(l_),
      active_shortfalls_(l_) {
  const std::int32_t l = m.n();
  for (std::int32_t j = 1; j <= l; ++j) {
    double* column = &columns_[static_cast<std::size_t>(j - 1) * (l_ + 1)];
    for (std::int32_t i = 0; i <= l; ++i) column[i] = m.stored(i, j);
    top_row_[static_cast<std::size_t>(j - 1)] = m.get(l, j);
  }
}

bool GenerationStep::advance(double* tail) {
  const std::size_t l = l_;
  // The shortfall depends on the level only, so it is evaluated once per
  // level, in level order (the first evaluation is the one that traps for
  // lambda = 0).
  std::size_t active = 0;
  for (std::size_t i = 0; i < l; ++i) {
    const long double s = selection_shortfall(mu_, lambda_, tail[i]);
    if (s != 0) {
      active_levels_[active] = i;
      active_shortfalls_[active] = s;
      ++active;
    }
  }
  // Three columns at a time share each shortfall and keep three sums in
  // flight; every column still adds its terms in level order.
  std::size_t j = 0;
  for (; j + 3 <= l; j += 3) {
    const double* column0 = &columns_[j * (l + 1)];
    const double* column1 = column0 + (l + 1);
    const double* column2 = column1 + (l + 1);
    long double sum0 = 0.0L, sum1 = 0.0L, sum2 = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      const std::size_t i = active_levels_[n];
      const long double s = active_shortfalls_[n];
      sum0 = sum0 + (static_cast<long double>(column0[i]) - column0[i + 1]) * s;
      sum1 = sum1 + (static_cast<long double>(column1[i]) - column1[i + 1]) * s;
      sum2 = sum2 + (static_cast<long double>(column2[i]) - column2[i + 1]) * s;
    }
    next_[j] = round_to_double_or_stop(sum0 + top_row_[j]);
    next_[j + 1] = round_to_double_or_stop(sum1 + top_row_[j + 1]);
    next_[j + 2] = round_to_double_or_stop(sum2 + top_row_[j + 2]);
  }
  for (; j < l; ++j) {
    const double* column = &columns_[j * (l + 1)];
    long double sum = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      const std::size_t i = active_levels_[n];
      sum = sum + (static_cast<long double>(column[i]) - column[i + 1]) * active_shortfalls_[n];
    }
    next_[j] = round_to_double_or_stop(sum + top_row_[j]);
  }
  const bool unchanged = std::memcmp(tail, next_.data(), l * sizeof(double)) == 0;
  std::memcpy(tail, next_.data(), l * sizeof(double));
  return unchanged;
}

}  // namespace blocklevels
