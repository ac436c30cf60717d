// format_fixed (write_fixed's text) on x87 extended values, checked against
// the model's exact decimal expansion: the same characters for every width
// 0..30 and every count of decimals 0..20, NaN, infinities, zeros, denormals
// and values of any magnitude. The model rounds |x| * 10^17 (|x| first
// brought below 16 by a power of ten) with its own integer arithmetic on the
// significand and the binary exponent.
//
// Input: ten bytes of an x87 value (little-endian), a width byte, a decimals
// byte and a mode byte. Mode 0 takes the value as it is; mode 1 squeezes the
// exponent into [2^-76, 2^4] where the decimals matter; mode 2 builds the
// value as D / 10^s, D below 10^18, moved by up to four units in the last
// place, so that ties and near-ties of decimal figures are common. Encodings
// the x87 does not support (unnormals, pseudo-infinities, pseudo-NaNs) are
// given their integer bit, pseudo-denormals become the normal of the same
// value, before use. The text's shape (padding, sign, decimals, length of the
// integer part against floor(|x|)) is also checked on its own.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "driver/decimal_powers.hpp"
#include "driver/number_text.hpp"
#include "support.hpp"
#include "text_model.hpp"

namespace blocklevels::fuzz {
namespace {

long double value_of(const std::uint8_t (&bytes)[13]) {
  ExtendedFields f;
  for (int i = 7; i >= 0; --i) f.significand = f.significand << 8 | bytes[i];
  f.exponent = static_cast<std::uint16_t>((bytes[9] & 0x7F) << 8 | bytes[8]);
  f.negative = (bytes[9] & 0x80) != 0;
  const int mode = bytes[12] % 3;
  if (mode == 1) {
    f.exponent = static_cast<std::uint16_t>(16383 - 76 + f.exponent % 81);
  } else if (mode == 2) {
    const std::uint64_t d = f.significand % 1000000000000000000ULL;
    const int s = bytes[8] % 21;
    const int moves = static_cast<std::int8_t>(bytes[9]) % 5;
    long double x = static_cast<long double>(d) / model_power_of_ten(s);
    constexpr long double kInfinity = std::numeric_limits<long double>::infinity();
    for (int i = 0; i < moves; ++i) x = std::nextafter(x, kInfinity);
    for (int i = 0; i > moves; --i) x = std::nextafter(x, 0.0L);
    f = decode_extended(x);
    f.negative = (bytes[12] & 0x80) != 0;
  }
  return encode_extended(supported_encoding(f));
}

std::string fields_of(long double x) {
  const ExtendedFields f = decode_extended(x);
  char text[96];
  std::snprintf(text, sizeof text, "sign %d exponent 0x%04x significand 0x%016llx (%.21Lg)",
                f.negative ? 1 : 0, f.exponent, static_cast<unsigned long long>(f.significand), x);
  return text;
}

// Properties that hold whatever the digits: the padding, the sign, the
// decimals, and the length of the integer part next to that of floor(|x|).
void check_shape(const std::string& text, long double x, int width, int decimals) {
  const std::string where = fields_of(x) + " \"" + text + "\"";
  const std::size_t start = text.find_first_not_of(' ');
  FUZZ_CHECK(start != std::string::npos, where);
  FUZZ_CHECK(start == 0 || text.size() == static_cast<std::size_t>(width), where);
  FUZZ_CHECK(text.size() >= static_cast<std::size_t>(width), where);
  std::string body = text.substr(start);
  if (std::isnan(x)) {
    FUZZ_CHECK(body == "Nan", where);
    return;
  }
  if (std::isinf(x)) {
    FUZZ_CHECK(body == (std::signbit(x) ? "-Inf" : "+Inf"), where);
    return;
  }
  FUZZ_CHECK((body[0] == '-') == static_cast<bool>(std::signbit(x)), where);
  if (body[0] == '-') body.erase(0, 1);
  const std::size_t point = body.find('.');
  const std::size_t integer_digits = point == std::string::npos ? body.size() : point;
  FUZZ_CHECK((point == std::string::npos) == (decimals == 0), where);
  FUZZ_CHECK(decimals == 0 || body.size() - point - 1 == static_cast<std::size_t>(decimals), where);
  for (std::size_t i = 0; i < body.size(); ++i) {
    FUZZ_CHECK(i == point || (body[i] >= '0' && body[i] <= '9'), where);
  }
  FUZZ_CHECK(integer_digits >= 1 && (integer_digits == 1 || body[0] != '0'), where);
  const long double ax = std::fabs(x);
  if (ax < 1e18L) {
    const std::size_t floor_digits = std::to_string(static_cast<std::uint64_t>(ax)).size();
    FUZZ_CHECK(integer_digits == floor_digits || integer_digits == floor_digits + 1, where);
  }
}

}  // namespace
}  // namespace blocklevels::fuzz

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  using namespace blocklevels;
  // The model's powers of ten and the program's must be the same values.
  for (int k = 0; k <= kMaxDecimalPower; ++k) {
    const long double mine = fuzz::model_power_of_ten(k);
    const long double theirs = correctly_rounded_power_of_ten(k);
    FUZZ_CHECK(std::memcmp(&mine, &theirs, 10) == 0, "10^" + std::to_string(k) + " differs");
  }
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace blocklevels;
  using namespace blocklevels::fuzz;
  std::uint8_t bytes[13] = {};
  std::memcpy(bytes, data, size < sizeof bytes ? size : sizeof bytes);
  const long double x = value_of(bytes);
  const int width = bytes[10] % 31;
  const int decimals = bytes[11] % 21;
  char text[kFixedTextCapacity];
  const std::string got(text, format_fixed(text, x, width, decimals));
  const std::string expected = model_format_fixed(x, width, decimals);
  FUZZ_CHECK(got == expected, fields_of(x) + " width " + std::to_string(width) + " decimals " +
                                  std::to_string(decimals) + ": \"" + got + "\", model \"" +
                                  expected + "\"");
  check_shape(got, x, width, decimals);
  // The program's own widths and decimals, for the values it writes.
  if (!(std::fabs(x) < 16)) return 0;
  static constexpr int kUsed[][2] = {{3, 3}, {10, 6}, {5, 5}};
  for (const auto& [w, d] : kUsed) {
    const std::string used(text, format_fixed(text, x, w, d));
    FUZZ_CHECK(used == model_format_fixed(x, w, d),
               fields_of(x) + " (" + std::to_string(w) + ", " + std::to_string(d) + "): \"" + used +
                   "\", model \"" + model_format_fixed(x, w, d) + "\"");
  }
  return 0;
}
