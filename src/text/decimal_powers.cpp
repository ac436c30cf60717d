#include "text/decimal_powers.hpp"

#include <cmath>
#include <cstdint>
#include <vector>

namespace blocklevels {
namespace {
__extension__ using Wide = unsigned __int128;
}  // namespace

long double correctly_rounded_power_of_ten(int k) {
  // Build 10^k exactly as little-endian 64-bit words, 19 decimal digits
  // (10^19 < 2^64) at a time.
  std::vector<std::uint64_t> words{1};
  for (int left = k; left > 0;) {
    const int step = left < 19 ? left : 19;
    std::uint64_t factor = 1;
    for (int i = 0; i < step; ++i) factor *= 10;
    Wide carry = 0;
    for (auto& w : words) {
      const Wide product = static_cast<Wide>(w) * factor + carry;
      w = static_cast<std::uint64_t>(product);
      carry = product >> 64;
    }
    if (carry != 0) words.push_back(static_cast<std::uint64_t>(carry));
    left -= step;
  }
  // Top 64 significant bits, then round to nearest, ties to even, on the rest.
  const std::size_t top = words.size() - 1;
  const int lead = 63 - __builtin_clzll(words[top]);  // bit index of the leading 1
  const long long total_bits = static_cast<long long>(top) * 64 + lead + 1;
  if (total_bits <= 64) return static_cast<long double>(words[0]);
  const long long drop = total_bits - 64;  // bits below the significand
  auto bit = [&](long long index) -> unsigned {
    return static_cast<unsigned>((words[static_cast<std::size_t>(index / 64)] >> (index % 64)) &
                                 1u);
  };
  std::uint64_t significand = 0;
  for (long long i = total_bits - 1; i >= drop; --i) significand = (significand << 1) | bit(i);
  const unsigned round_bit = bit(drop - 1);
  bool sticky = false;
  for (long long i = drop - 2; i >= 0 && !sticky; --i) sticky = bit(i) != 0;
  int exponent = static_cast<int>(drop);
  if (round_bit != 0 && (sticky || (significand & 1u) != 0)) {
    ++significand;
    if (significand == 0) {  // carried out of 64 bits: 2^64
      significand = std::uint64_t{1} << 63;
      ++exponent;
    }
  }
  return std::ldexp(static_cast<long double>(significand), exponent);
}

}  // namespace blocklevels
