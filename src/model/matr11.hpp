// The containers of the level model: a 1-based vector with one value per
// level and a 0-based square matrix over the levels. Elements are doubles:
// a value is rounded to double when stored and widened exactly when read.
// Containers are initialised once and never released.
#pragma once

#include <cstdint>

#include "model/extended_real.hpp"

namespace blocklevels {

// Rounds an extended value to double for storing into a container. A finite
// value beyond the double range is a floating-point overflow and stops the
// run (error 205); underflow quietly gives a denormal or zero.
double round_to_double_or_stop(long double value);

struct RealVector {
  std::int32_t n = 0;  // valid indices 1..n
  double* data = nullptr;

  // Allocates n zeros unless mem_avail() is below 8*n + 8 (32-bit), in which
  // case `fail` is true, nothing is allocated and n keeps its value.
  void init(std::int32_t count, bool& fail);
  // Stores at 1 <= i <= n; any other index is ignored.
  void set(std::int32_t i, long double value);
  // No range test: callers pass 1..n.
  long double get(std::int32_t i) const { return data[i - 1]; }
};

struct LevelMatrix {
  std::int32_t n = 0;       // valid indices 0..n in both directions
  double** rows = nullptr;  // n + 1 row pointers

  // Stores n first; then allocates (n+1)^2 zeros unless mem_avail() is below
  // ((n+1)*8 + 8)*(n+1) + (n+1)*4 + 8 (32-bit, wrapping), when `fail` is true.
  void init(std::int32_t count, bool& fail);
  // Stores at 0 <= i, j <= n; anything else is ignored.
  void set(std::int32_t i, std::int32_t j, long double value);
  // No range test: callers pass 0..n.
  long double get(std::int32_t i, std::int32_t j) const { return rows[i][j]; }
};

}  // namespace blocklevels
