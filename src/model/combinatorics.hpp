// Exact combinatorial primitives in extended precision, as plain sequential
// products: the model's numbers come out of exactly these multiplications.
#pragma once

#include <cstdint>

#include "model/extended_real.hpp"

namespace blocklevels {

// n!, as ((1 * 1) * 2) * ... * n; 1 for every n <= 0. Overflows (a trapped
// floating-point overflow) from n = 1755 on.
long double factorial(std::int32_t n);

// factorial(n) / (factorial(n - k) * factorial(k)), with no test of the
// arguments: negative factorial arguments count as 1.
long double binomial(std::int32_t n, std::int32_t k);

// x to the power n as ((1 * x) * x) * ... (n factors, the running result on
// the left); 1 for n = 0. The exponent is 16-bit unsigned: callers pass the
// low 16 bits of wider or signed exponents, so -1 arrives as 65535.
long double int_power(std::uint16_t n, long double x);

}  // namespace blocklevels
