// Powers of ten correctly rounded to extended precision.
#pragma once

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// The largest power of ten below the extended range's limit (~1.19e4932).
inline constexpr int kMaxDecimalPower = 4932;

// 10^k rounded to the nearest extended value, ties to even, for
// 0 <= k <= kMaxDecimalPower. Exact for k <= 27. Computed from the exact
// integer, so every digit of the power takes part in the rounding.
long double correctly_rounded_power_of_ten(int k);

}  // namespace blocklevels
