// An independent model of the text rules, written for the fuzz targets from
// the rules themselves and not from the program's code: reading tokens and
// lines from a byte string, the number syntax, the correctly rounded powers
// of ten, and the exact decimal expansion behind write_fixed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace blocklevels::fuzz {

// A read position in a byte string. With `ctrl_z_ends_input` the byte 0x1A
// is the end of input and stays unread.
struct ByteCursor {
  std::string_view bytes;
  std::size_t position = 0;
  bool ctrl_z_ends_input = false;

  bool at_end() const {
    return position == bytes.size() || (ctrl_z_ends_input && bytes[position] == '\x1A');
  }
};

// Skips bytes of value 32 or less, then takes at most `limit` bytes above 32.
struct TokenModel {
  bool at_end = false;      // input ended before a token
  std::size_t skipped = 0;  // bytes passed over before the token
  std::string token;
};
TokenModel model_read_token(ByteCursor& cursor, std::size_t limit);

// Discards up to and including the next LF; stops at the end of input.
void model_skip_line(ByteCursor& cursor);

// The rest of the current line: LF stays unread, CR bytes are dropped, 0x1A
// (when it ends input) is consumed and ends the text. At most 4096 bytes are
// kept: the byte after them is consumed and marks the line as too long.
inline constexpr std::size_t kModelMaxLineText = 4096;
struct LineModel {
  std::string text;
  bool too_long = false;
};
LineModel model_read_line_text(ByteCursor& cursor);

// Number syntax.
struct IntegerModel {
  bool valid = false;
  bool hexadecimal = false;
  std::int32_t value = 0;
};
IntegerModel model_parse_integer(std::string_view token);

struct RealModel {
  bool valid = false;
  bool negative = false;
  bool zero_mantissa = true;
  std::string digits;              // every mantissa digit, in order, leading zeros included
  long long decimal_exponent = 0;  // exponent part minus fraction digits (saturated)
  long double value = 0.0L;        // with floating-point traps masked
  bool overflows = false;          // the scaling leaves the extended range: a trap (205)
};
RealModel model_parse_real(std::string_view token);

// Decimal text of a 32-bit integer, from the standard library.
std::string model_format_integer(std::int32_t v);

// 10^k rounded to nearest extended, ties to even, 0 <= k <= 4932, from an
// exact big integer.
inline constexpr int kModelMaxPower = 4932;
long double model_power_of_ten(int k);

// The fields of an x87 extended value.
struct ExtendedFields {
  bool negative = false;
  std::uint16_t exponent = 0;     // biased, 15 bits
  std::uint64_t significand = 0;  // explicit integer bit included
};
ExtendedFields decode_extended(long double x);
long double encode_extended(const ExtendedFields& fields);
// Turns unsupported encodings (unnormals, pseudo-infinities, pseudo-NaNs) into
// supported ones by setting the integer bit, and a pseudo-denormal into the
// normal of the same value.
ExtendedFields supported_encoding(ExtendedFields fields);

// write_fixed's text, from exact integer arithmetic on the significand and the
// binary exponent. Decimals 0..64, width 0..255. `x` must be a supported
// encoding.
std::string model_format_fixed(long double x, int width, int decimals);

}  // namespace blocklevels::fuzz
