// The level transition matrix and the rounding of extended values into the
// doubles the model stores. A value is rounded to double when stored and
// widened exactly when read.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// Rounds an extended value to double for storing. A finite value beyond the
// double range is a floating-point overflow: it throws Stop (205). Underflow
// quietly gives a denormal or zero, and infinities and NaN are stored as
// they are.
double round_to_double_or_stop(long double value);

// A square matrix over the levels 0..n, all elements 0.0 at first.
class LevelMatrix {
 public:
  // Precondition: n >= 0.
  explicit LevelMatrix(std::int32_t n)
      : n_(n), elements_(static_cast<std::size_t>(n + 1) * static_cast<std::size_t>(n + 1)) {}

  std::int32_t n() const { return n_; }
  // 0 <= i, j <= n.
  void set(std::int32_t i, std::int32_t j, long double value) {
    elements_[index(i, j)] = round_to_double_or_stop(value);
  }
  long double get(std::int32_t i, std::int32_t j) const { return elements_[index(i, j)]; }
  double stored(std::int32_t i, std::int32_t j) const { return elements_[index(i, j)]; }

 private:
  std::size_t index(std::int32_t i, std::int32_t j) const {
    return static_cast<std::size_t>(i) * static_cast<std::size_t>(n_ + 1) +
           static_cast<std::size_t>(j);
  }

  std::int32_t n_;
  std::vector<double> elements_;  // row by row
};

}  // namespace blocklevels
