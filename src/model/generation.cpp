#include "model/generation.hpp"

#include <cstring>

namespace blocklevels {

GenerationStep::GenerationStep(const LevelModel& model, std::int32_t mu, std::int32_t lambda)
    : l_(model.M.n), mu_(mu), lambda_(lambda) {
  if (l_ < 1) return;
  const auto l = static_cast<std::size_t>(l_);
  columns_.resize(l * (l + 1));
  top_row_.resize(l);
  active_levels_.resize(l);
  active_shortfalls_.resize(l);
  for (std::int32_t j = 1; j <= l_; ++j) {
    double* column = &columns_[static_cast<std::size_t>(j - 1) * (l + 1)];
    for (std::int32_t i = 0; i <= l_; ++i) column[i] = model.M.rows[i][j];
    top_row_[static_cast<std::size_t>(j - 1)] = model.M.get(l_, j);
  }
}

bool GenerationStep::advance(LevelModel& model) {
  if (l_ < 1) return true;
  const auto l = static_cast<std::size_t>(l_);
  // The shortfall depends on the level only, so it is evaluated once per
  // level, in level order (the first evaluation is the one that traps for
  // lambda = 0).
  std::size_t active = 0;
  for (std::int32_t i = 1; i <= l_; ++i) {
    const long double s = selection_shortfall(mu_, lambda_, model.A.get(i));
    if (s != 0) {
      active_levels_[active] = static_cast<std::size_t>(i - 1);
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
    model.C.set(static_cast<std::int32_t>(j + 1), sum0 + top_row_[j]);
    model.C.set(static_cast<std::int32_t>(j + 2), sum1 + top_row_[j + 1]);
    model.C.set(static_cast<std::int32_t>(j + 3), sum2 + top_row_[j + 2]);
  }
  for (; j < l; ++j) {
    const double* column = &columns_[j * (l + 1)];
    long double sum = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      const std::size_t i = active_levels_[n];
      sum = sum + (static_cast<long double>(column[i]) - column[i + 1]) * active_shortfalls_[n];
    }
    model.C.set(static_cast<std::int32_t>(j + 1), sum + top_row_[j]);
  }
  const bool unchanged = std::memcmp(model.A.data, model.C.data, l * sizeof(double)) == 0;
  std::memcpy(model.A.data, model.C.data, l * sizeof(double));
  return unchanged;
}

}  // namespace blocklevels
