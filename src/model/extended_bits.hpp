// The bits of x87 extended values: 10 bytes each (a 64-bit significand with
// an explicit integer bit, a 15-bit exponent and the sign), stored in 16
// with 6 bytes of padding that are no part of the value.
#pragma once

#include <cstdint>
#include <cstring>
#include <span>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

inline constexpr std::size_t kExtendedValueBytes = 10;

// Whether two arrays hold the same values bit for bit.
inline bool same_extended_bits(std::span<const long double> a, std::span<const long double> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n) {
    if (std::memcmp(&a[n], &b[n], kExtendedValueBytes) != 0) return false;
  }
  return true;
}

// The unbiased binary exponent e of v's encoding: 2^e <= |v| < 2^(e + 1)
// for a normal v (as ilogb, without its call); -16383 for 0 and the
// denormals (all below 2^-16382), 16384 for infinities and NaN.
inline int binary_exponent(long double v) {
  unsigned char bytes[kExtendedValueBytes];
  std::memcpy(bytes, &v, kExtendedValueBytes);
  const int biased = (bytes[9] & 0x7F) << 8 | bytes[8];
  return biased - 16383;
}

}  // namespace blocklevels
