// 32-bit signed integer arithmetic that wraps around like the machine's,
// without the undefined behaviour of signed overflow in C++.
#pragma once

#include <cstdint>

namespace blocklevels {

constexpr std::int32_t wrapping_add(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) + static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrapping_sub(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) - static_cast<std::uint32_t>(b));
}

constexpr std::int32_t wrapping_mul(std::int32_t a, std::int32_t b) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(a) * static_cast<std::uint32_t>(b));
}

// The low 16 bits of a 32-bit value: how an exponent reaches int_power.
constexpr std::uint16_t low_16_bits(std::int32_t v) {
  return static_cast<std::uint16_t>(static_cast<std::uint32_t>(v) & 0xFFFFu);
}

}  // namespace blocklevels
