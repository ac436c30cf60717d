// Integer powers as plain repeated products in extended precision: the
// model's numbers come out of exactly these multiplications.
#pragma once

#include <cstdint>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// x to the power n as ((1 * x) * x) * ... (n factors, the running result on
// the left); 1 for n = 0, also when x = 0. The exponent is 16-bit unsigned:
// callers pass the low 16 bits of wider or signed exponents, so -1 arrives
// as 65535, and a base below 1 then underflows quietly to 0.
inline long double int_power(std::uint16_t n, long double x) {
  long double result = 1.0L;
  for (unsigned i = 0; i < n; ++i) result = result * x;
  return result;
}

}  // namespace blocklevels
