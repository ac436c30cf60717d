// The values an option of the command line takes: one number, a list
// "v1,v2,...", or a range "FROM:TO:COUNT" (evenly spaced, both ends
// included) or "FROM:TO:COUNT:log" (geometric). Pure parsers: text in,
// values or an error message out.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/extended_real.hpp"

namespace blocklevels {

// The most values one option may expand to.
inline constexpr std::int64_t kMaxOptionValues = 100000;

struct IntegerChoices {
  std::vector<std::int32_t> values;  // empty when `error` is set
  std::string error;
};

// Decimal integers in the 32-bit signed range. A range's values are rounded
// to the nearest integer; repeated neighbours are kept once.
IntegerChoices parse_integer_choices(std::string_view text);

struct RealChoice {
  long double value;  // read as the dialogue reads the text
  std::string text;   // as typed, or the shortest text of a range's value
};

struct RealChoices {
  std::vector<RealChoice> values;
  std::string error;
};

// Reals in the dialogue's syntax (sign, digits, ".", exponent), with at
// least one digit before the exponent and at most 64 characters, so that
// typing the text into the dialogue gives the same extended value. The
// inner values of a range are computed in extended precision and written
// as the shortest text that reads back to the same double; that text is
// then read like a typed one.
RealChoices parse_real_choices(std::string_view text);

}  // namespace blocklevels
