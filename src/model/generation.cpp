#include "model/generation.hpp"

#include <algorithm>
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
      band_begin_(l_),
      band_end_(l_),
      groups_((l_ + kGroup - 1) / kGroup),
      top_(groups_.size() * kGroup),
      empty_sum_value_(groups_.size() * kGroup),
      next_(groups_.size() * kGroup),
      shortfall_of_(l_),
      shortfalls_(l_) {
  find_bands(m);
  copy_groups(m);
}

std::size_t GenerationStep::band_begin(std::int32_t j) const {
  return band_begin_[static_cast<std::size_t>(j - 1)];
}

std::size_t GenerationStep::band_end(std::int32_t j) const {
  return band_end_[static_cast<std::size_t>(j - 1)];
}

// Reads M row by row, as it is stored.
void GenerationStep::find_bands(const LevelMatrix& m) {
  const auto l = static_cast<std::int32_t>(l_);
  for (std::int32_t i = 0; i <= l; ++i) {
    for (std::int32_t j = 1; j <= l; ++j)
      every_level_ = every_level_ || !std::isfinite(m.stored(i, j));
  }
  for (std::int32_t n = 0; n < l; ++n) {
    for (std::int32_t j = 1; j <= l; ++j) {
      if (!every_level_ && m.stored(n, j) == m.stored(n + 1, j)) continue;
      const auto column = static_cast<std::size_t>(j - 1);
      if (band_begin_[column] == band_end_[column])
        band_begin_[column] = static_cast<std::size_t>(n);
      band_end_[column] = static_cast<std::size_t>(n) + 1;
    }
  }
}

void GenerationStep::copy_groups(const LevelMatrix& m) {
  std::size_t size = 0;
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    Group& group = groups_[g];
    group.begin = l_;
    for (std::size_t j = g * kGroup; j < std::min(l_, (g + 1) * kGroup); ++j) {
      if (band_begin_[j] == band_end_[j]) continue;
      group.begin = std::min(group.begin, band_begin_[j]);
      group.end = std::max(group.end, band_end_[j]);
    }
    if (group.begin >= group.end) group.begin = group.end = 0;
    group.offset = size;
    if (group.begin < group.end) size += (group.end - group.begin + 1) * kGroup;
  }
  values_.assign(size, 0.0);
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    const Group& group = groups_[g];
    const std::size_t columns = std::min(l_, (g + 1) * kGroup) - g * kGroup;
    for (std::size_t c = 0; c < columns; ++c) {
      const auto j = static_cast<std::int32_t>(g * kGroup + c + 1);
      if (group.begin < group.end) {
        for (std::size_t n = group.begin; n <= group.end; ++n) {
          values_[group.offset + (n - group.begin) * kGroup + c] =
              m.stored(static_cast<std::int32_t>(n), j);
        }
      }
      const double top = m.stored(static_cast<std::int32_t>(l_), j);
      top_[g * kGroup + c] = top;
      empty_sum_value_[g * kGroup + c] = top == 0 ? 0.0 : top;
    }
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

void GenerationStep::sum_group(std::size_t g, std::size_t begin, std::size_t end,
                               std::size_t unit_begin) {
  // Every column adds its terms in level order; three sums stay in flight.
  // From unit_begin on every shortfall is 1, and d * 1 is d exactly, so the
  // product is not formed there.
  const Group& group = groups_[g];
  const double* row = &values_[group.offset + (begin - group.begin) * kGroup];
  const long double* shortfall = shortfalls_.data();
  const std::size_t middle = std::clamp(unit_begin, begin, end);
  long double sum0 = 0.0L, sum1 = 0.0L, sum2 = 0.0L;
  for (std::size_t n = begin; n < middle; ++n, row += kGroup) {
    const long double s = shortfall[n];
    sum0 = sum0 + (static_cast<long double>(row[0]) - row[kGroup]) * s;
    sum1 = sum1 + (static_cast<long double>(row[1]) - row[kGroup + 1]) * s;
    sum2 = sum2 + (static_cast<long double>(row[2]) - row[kGroup + 2]) * s;
  }
  for (std::size_t n = middle; n < end; ++n, row += kGroup) {
    sum0 = sum0 + (static_cast<long double>(row[0]) - row[kGroup]);
    sum1 = sum1 + (static_cast<long double>(row[1]) - row[kGroup + 1]);
    sum2 = sum2 + (static_cast<long double>(row[2]) - row[kGroup + 2]);
  }
  const std::size_t j = g * kGroup;
  const long double v0 = sum0 + top_[j];
  const long double v1 = sum1 + top_[j + 1];
  const long double v2 = sum2 + top_[j + 2];
  stop_if_invalid(v0, v1, v2);
  next_[j] = round_to_double_or_stop(v0);
  next_[j + 1] = round_to_double_or_stop(v1);
  next_[j + 2] = round_to_double_or_stop(v2);
}

bool GenerationStep::advance(double* tail) {
  const std::size_t l = l_;
  // The shortfall depends on the level only, so it is evaluated once per
  // level, in level order, and only for levels whose value changed. Levels
  // [active_begin, active_end) hold every shortfall that is not 0, and from
  // unit_begin on every shortfall is 1.
  const bool reuse = shortfalls_valid_;
  shortfalls_valid_ = false;
  clear_raised_flags();
  std::size_t active_begin = l, active_end = 0, unit_begin = l;
  for (std::size_t n = 0; n < l; ++n) {
    if (!reuse || std::memcmp(&tail[n], &shortfall_of_[n], sizeof(double)) != 0) {
      shortfall_of_[n] = tail[n];
      shortfalls_[n] = selection_shortfall(mu_, lambda_, tail[n]);
    }
    if (shortfalls_[n] != 0 || every_level_) {
      active_begin = std::min(active_begin, n);
      active_end = n + 1;
    }
    if (shortfalls_[n] != 1) unit_begin = n + 1;
  }
  // lambda = 0 fails at the first level: a division by zero, or 0/0 when mu
  // is 0 too, and only an earlier division by zero can lead to an invalid
  // operation afterwards. With lambda != 0 only a division by zero can fail
  // (mu = 0 below a level reached by no offspring).
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
  shortfalls_valid_ = true;
  // Each group sums the active levels within its union (a shortfall of 0
  // among them adds a zero); a group with none takes the values of empty
  // sums, which cannot stop.
  for (std::size_t g = 0; g < groups_.size(); ++g) {
    const std::size_t begin = std::max(groups_[g].begin, active_begin);
    const std::size_t end = std::min(groups_[g].end, active_end);
    if (begin < end) {
      sum_group(g, begin, end, unit_begin);
    } else {
      std::copy_n(&empty_sum_value_[g * kGroup], kGroup, &next_[g * kGroup]);
    }
  }
  const bool unchanged = std::memcmp(tail, next_.data(), l * sizeof(double)) == 0;
  std::memcpy(tail, next_.data(), l * sizeof(double));
  return unchanged;
}

}  // namespace blocklevels
