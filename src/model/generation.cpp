#include "model/generation.hpp"

#include <cmath>
#include <cstring>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
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
    for (std::int32_t i = 0; i <= l; ++i) {
      column[i] = m.stored(i, j);
      every_level_ = every_level_ || !std::isfinite(column[i]);
    }
    top_row_[static_cast<std::size_t>(j - 1)] = m.get(l, j);
  }
}

namespace {

// A column's new value, whose sum either stayed a number or became NaN by an
// invalid operation: the matrix and the tail hold no NaN (the build and
// every generation stop at the first invalid operation), so an invalid
// operation, infinity minus infinity, is the only way to a NaN. It comes
// before the stores of its group of columns, as in the literal order.
[[gnu::always_inline]] inline void stop_if_invalid(long double v0, long double v1, long double v2) {
  if (std::isnan(v0) || std::isnan(v1) || std::isnan(v2)) throw_stop(kInvalidOperation);
}

}  // namespace

bool GenerationStep::advance(double* tail) {
  const std::size_t l = l_;
  // The shortfall depends on the level only, so it is evaluated once per
  // level, in level order.
  clear_raised_flags();
  std::size_t active = 0;
  for (std::size_t i = 0; i < l; ++i) {
    const long double s = selection_shortfall(mu_, lambda_, tail[i]);
    if (s != 0 || every_level_) {
      active_levels_[active] = i;
      active_shortfalls_[active] = s;
      ++active;
    }
  }
  // lambda = 0 fails at the first level: a division by zero, or 0/0 when mu
  // is 0 too, and only an earlier division by zero can lead to an invalid
  // operation afterwards. With lambda != 0 only a division by zero can fail
  // (mu = 0 below a level reached by no offspring).
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
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
    const long double v0 = sum0 + top_row_[j];
    const long double v1 = sum1 + top_row_[j + 1];
    const long double v2 = sum2 + top_row_[j + 2];
    stop_if_invalid(v0, v1, v2);
    next_[j] = round_to_double_or_stop(v0);
    next_[j + 1] = round_to_double_or_stop(v1);
    next_[j + 2] = round_to_double_or_stop(v2);
  }
  for (; j < l; ++j) {
    const double* column = &columns_[j * (l + 1)];
    long double sum = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      const std::size_t i = active_levels_[n];
      sum = sum + (static_cast<long double>(column[i]) - column[i + 1]) * active_shortfalls_[n];
    }
    const long double v = sum + top_row_[j];
    stop_if_invalid(v, 0, 0);
    next_[j] = round_to_double_or_stop(v);
  }
  const bool unchanged = std::memcmp(tail, next_.data(), l * sizeof(double)) == 0;
  std::memcpy(tail, next_.data(), l * sizeof(double));
  return unchanged;
}

}  // namespace blocklevels
