// Every real computation of the program runs in x87 extended precision: a
// 64-bit significand, round to nearest with ties to even. The results, down
// to the last printed digit, depend on it.
#pragma once

#include <limits>

static_assert(std::numeric_limits<long double>::digits == 64,
              "long double must be the x87 80-bit extended format");
static_assert(std::numeric_limits<long double>::max_exponent == 16384,
              "long double must be the x87 80-bit extended format");
static_assert(std::numeric_limits<double>::digits == 53, "double must be IEEE-754 binary64");
