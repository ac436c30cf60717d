// The values an option of the command line (or an argument of the Python
// package) takes: one number, a list
// "v1,v2,...", or a range "FROM:TO:COUNT" (evenly spaced, both ends
// included) or "FROM:TO:COUNT:log" (geometric). Text in, values out; a
// refused text throws Failure (status 2) with a message that
// starts with the option's name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// The most values one option may expand to.
inline constexpr std::int64_t kMaxOptionValues = 100000;

// Decimal integers in the 32-bit signed range. A range's values are rounded
// to the nearest integer; repeated neighbours are kept once. An item that is
// no such integer is refused as "not an integer " + `range` (a parameter's
// own, "from 1 to lambda"; by default the 32-bit range).
std::vector<std::int32_t> integer_values(std::string_view option, std::string_view text,
                                         std::string_view range = "from -2147483648 to 2147483647");

struct RealValue {
  long double value;  // read as the dialogue reads the text
  std::string text;   // as typed, or the shortest text of a range's value
};

// Reals in the dialogue's syntax (sign, digits, ".", exponent), with at
// least one digit before the exponent and at most 64 characters, so that
// typing the text into the dialogue gives the same extended value. The
// inner values of a range are computed in extended precision and written
// as the shortest text that reads back to the same double; that text is
// then read like a typed one.
std::vector<RealValue> real_values(std::string_view option, std::string_view text);

// Exactly one integer.
std::int32_t one_integer(std::string_view option, std::string_view text);

// A simulation's seed: decimal digits, 0 to 2^64 - 1.
std::uint64_t seed_value(std::string_view option, std::string_view text);

}  // namespace blocklevels
