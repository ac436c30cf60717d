// The distributions a run draws from, written out so that a run's values
// depend on the generator's output alone and not on a standard library's
// distribution algorithms. Each function documents how many outputs it takes,
// since a run is only reproducible if the order of draws is.
#pragma once

#include <cstdint>
#include <pcg_random.hpp>

namespace blocklevels::simulation {

// Uniform in [0, n) for n >= 1 by multiply-and-shift with rejection: exact,
// and one output except with probability below n / 2^32.
inline std::uint32_t uniform_below(pcg32& rng, std::uint32_t n) {
  std::uint64_t m = std::uint64_t{rng()} * n;
  auto low = static_cast<std::uint32_t>(m);
  if (low < n) {
    const std::uint32_t threshold = (0U - n) % n;  // 2^32 mod n
    while (low < threshold) {
      m = std::uint64_t{rng()} * n;
      low = static_cast<std::uint32_t>(m);
    }
  }
  return static_cast<std::uint32_t>(m >> 32);
}

// One of the three alleles 0..3 other than `allele`, each with probability 1/3.
inline std::uint8_t other_allele(pcg32& rng, std::uint8_t allele) {
  return static_cast<std::uint8_t>((allele + 1U + uniform_below(rng, 3)) & 3U);
}

// 64 uniform bits from two outputs, the first one the high half.
inline std::uint64_t uniform_bits(pcg32& rng) {
  const std::uint64_t high = rng();
  return (high << 32) | rng();
}

// Uniform on (0, 1] in steps of 2^-64 from 64 uniform bits k: (k + 1) 2^-64,
// exact in long double (k + 1 <= 2^64 needs at most 64 significant bits).
inline long double open_closed_unit(std::uint64_t k) {
  return (static_cast<long double>(k) + 1.0L) * 0x1p-64L;
}

}  // namespace blocklevels::simulation
