#include "model/generation.hpp"

#include <cstring>

namespace blocklevels {

GenerationStep::GenerationStep(const LevelModel& model, std::int32_t mu, std::int32_t lambda)
    : l_(model.M.n), mu_(mu), lambda_(lambda) {
  if (l_ < 1) return;
  const auto l = static_cast<std::size_t>(l_);
  differences_.resize(l * l);
  top_row_.resize(l);
  active_levels_.resize(l);
  active_shortfalls_.resize(l);
  for (std::int32_t j = 1; j <= l_; ++j) {
    long double* column = &differences_[static_cast<std::size_t>(j - 1) * l];
    for (std::int32_t i = 1; i <= l_; ++i) {
      column[i - 1] = model.M.get(i - 1, j) - model.M.get(i, j);
    }
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
      active_levels_[active] = i - 1;
      active_shortfalls_[active] = s;
      ++active;
    }
  }
  for (std::size_t j = 0; j < l; ++j) {
    const long double* column = &differences_[j * l];
    long double sum = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      sum = sum + column[active_levels_[n]] * active_shortfalls_[n];
    }
    sum = sum + top_row_[j];
    model.C.set(static_cast<std::int32_t>(j + 1), sum);
  }
  const bool unchanged = std::memcmp(model.A.data, model.C.data, l * sizeof(double)) == 0;
  std::memcpy(model.A.data, model.C.data, l * sizeof(double));
  return unchanged;
}

}  // namespace blocklevels
