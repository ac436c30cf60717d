// Typed numbers and printed numbers, without any stream: parsers take a token
// and return a value with a validity flag; formatters write into the caller's
// buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// Longest tokens taken by the readers; the bytes beyond stay unread.
inline constexpr std::size_t kIntegerTokenLength = 32;
inline constexpr std::size_t kRealTokenLength = 64;

struct IntegerParse {
  std::int32_t value = 0;
  bool valid = false;
};

struct RealParse {
  long double value = 0.0L;
  bool valid = false;
  // A valid token whose value lies beyond the extended range: value is
  // then an infinity, and a reader that cannot take it stops with 205.
  bool overflow = false;
};

// Optional sign, then hexadecimal after "$", "x", "X", "0x" or "0X" (one to
// eight digits, the 32-bit pattern read as signed) or decimal digits whose
// value lies in the 32-bit signed range.
IntegerParse parse_integer_token(std::string_view token);

// Optional sign, digits, optional "." and digits, optional exponent letter
// with optional sign and at least one digit. The digits are accumulated as
// value * 10 + digit in extended precision; the decimal exponent is applied
// by multiplying or dividing by correctly rounded powers of ten (10^4096
// first while the exponent exceeds 4096). A decimal exponent of 5120 or more
// gives infinity, one of -5120 or less gives 0, and a zero mantissa always
// gives zero. An overflow in between is reported in `overflow`. Computes in
// its own ExtendedArithmetic scope.
RealParse parse_real_token(std::string_view token);

// Room for any fixed-point text: sign, 4933 integer digits, point, decimals.
inline constexpr int kMaxFixedDecimals = 64;
inline constexpr int kMaxFixedWidth = 255;
inline constexpr std::size_t kFixedTextCapacity = 5120;

// The formatters compute in extended precision with rounding to nearest:
// they run inside an ExtendedArithmetic scope, or in a thread whose x87
// control word is the process default (64-bit significand, round to
// nearest), as every front end's is.

// Writes x in fixed notation with `decimals` decimals, right-aligned in
// `width` characters and never cut; returns the length. |x| is first
// rounded to 17 decimals (|x| * 10^17 to the nearest integer, ties to even;
// values of 10 and more are first brought below 16 by a power of ten), then
// the kept digits are rounded half-up on the next digit of that figure. "-"
// whenever the sign bit is set; NaN is "Nan", infinities "+Inf" and "-Inf".
// `width` is clamped to 0..kMaxFixedWidth, `decimals` to 0..kMaxFixedDecimals.
std::size_t format_fixed(char (&out)[kFixedTextCapacity], long double x, int width, int decimals);

// A value with its 17-decimal figure (|x| * 10^17 rounded to an integer, for
// |x| < 10): what format_fixed rounds from. Writing one value in several
// layouts shares the one extended multiplication and rounding.
struct FixedFigure {
  long double value = 0.0L;
  std::uint64_t n17 = 0;
  bool small = true;      // finite and below 10: n17 holds the figure
  bool negative = false;  // the sign bit of value
};
FixedFigure fixed_figure(long double x);
// format_fixed(out, x, width, decimals) for the figure of x, written at `out`,
// which must have room for kFixedTextCapacity bytes.
std::size_t format_fixed_figure_at(char* out, const FixedFigure& figure, int width, int decimals);

// Decimal digits of v, "-" first when negative; returns the length (<= 11).
inline constexpr std::size_t kIntegerTextCapacity = 12;
std::size_t format_integer(char (&out)[kIntegerTextCapacity], std::int32_t v);
// The same, written at `out`, which must have room for kIntegerTextCapacity bytes.
std::size_t format_integer_at(char* out, std::int32_t v);

}  // namespace blocklevels
