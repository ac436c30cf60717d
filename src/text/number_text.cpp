#include "text/number_text.hpp"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "arithmetic/extended_arithmetic.hpp"
#include "text/decimal_powers.hpp"

namespace blocklevels {
namespace {

constexpr std::uint64_t kPowersOfTen[] = {1ULL,
                                          10ULL,
                                          100ULL,
                                          1000ULL,
                                          10000ULL,
                                          100000ULL,
                                          1000000ULL,
                                          10000000ULL,
                                          100000000ULL,
                                          1000000000ULL,
                                          10000000000ULL,
                                          100000000000ULL,
                                          1000000000000ULL,
                                          10000000000000ULL,
                                          100000000000000ULL,
                                          1000000000000000ULL,
                                          10000000000000000ULL,
                                          100000000000000000ULL,
                                          1000000000000000000ULL};

constexpr long double kTenTo17 = 1e17L;  // exact: 2^17 * 5^17

// A typed real's decimal exponent from which the value is infinite (or 0
// for its negative), and the largest power of ten applied in one step.
constexpr long long kInfiniteDecimalExponent = 5120;
constexpr int kLargestDecimalStep = 4096;
// An exponent's digits beyond this are not accumulated: the value is long
// past kInfiniteDecimalExponent either way.
constexpr long long kSaturatedExponent = 1000000;

bool is_decimal_digit(char c) {
  return c >= '0' && c <= '9';
}

int hex_digit_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Rounds a value in [0, 2^63) to the nearest integer, ties to even, with one
// x87 store under the current rounding mode (round to nearest).
std::uint64_t round_to_integer_nearest_even(long double v) {
  long long result;
  asm("fistpll %0" : "=m"(result) : "t"(v) : "st");
  return static_cast<std::uint64_t>(result);
}

// |x| rounded to 17 decimals: |x| * 10^17 rounded to extended, then to the
// nearest integer with ties to even. Precondition: 0 <= ax < 16.
std::uint64_t round_to_17_decimals(long double ax) {
  return round_to_integer_nearest_even(ax * kTenTo17);
}

// "00", "01", ..., "99": two digits per division.
constexpr std::array<char, 200> kDigitPairs = [] {
  std::array<char, 200> pairs{};
  for (int i = 0; i < 100; ++i) {
    pairs[static_cast<std::size_t>(2 * i)] = static_cast<char>('0' + i / 10);
    pairs[static_cast<std::size_t>(2 * i + 1)] = static_cast<char>('0' + i % 10);
  }
  return pairs;
}();

// Writes exactly `count` decimal digits of v (leading zeros included) ending
// just before `end`, two at a time.
void put_digits_backward(char* end, std::uint64_t v, std::size_t count) {
  for (; count >= 2; count -= 2) {
    const std::size_t pair = 2 * static_cast<std::size_t>(v % 100);
    v /= 100;
    *--end = kDigitPairs[pair + 1];
    *--end = kDigitPairs[pair];
  }
  if (count == 1) *--end = static_cast<char>('0' + v % 10);
}

// Writes the decimal digits of v at `out`; returns how many.
std::size_t put_unsigned(char* out, std::uint64_t v) {
  std::size_t n = 1;
  while (n < std::size(kPowersOfTen) && v >= kPowersOfTen[n]) ++n;
  put_digits_backward(out + n, v, n);
  return n;
}

// Digits of |x| < 10 with kDecimals <= 16: keep units and kDecimals decimals
// of the 17-decimal figure, and add one in the last place when the next
// digit is 5 or more. All in integer arithmetic, every divisor a constant;
// N <= 10^18, so N / 10^(16 - kDecimals) + 5 cannot overflow, and the units
// come out as 0..10 (10 after a carry, as 9.9996 gives 10.000).
template <int kDecimals>
std::size_t put_small_fixed(char* out, const FixedFigure& figure, int width) {
  constexpr std::uint64_t kDropped = kPowersOfTen[16 - kDecimals];
  constexpr std::uint64_t kScale = kPowersOfTen[kDecimals];
  const std::uint64_t kept = (figure.n17 / kDropped + 5) / 10;
  std::uint64_t units = kept / kScale;
  const bool negative = figure.negative;
  const std::size_t length = (negative ? 1u : 0u) + (units >= 10 ? 2u : 1u) +
                             (kDecimals > 0 ? static_cast<std::size_t>(kDecimals) + 1 : 0u);
  std::size_t n = 0;
  while (n + length < static_cast<std::size_t>(width)) out[n++] = ' ';
  if (negative) out[n++] = '-';
  if (units >= 10) {
    out[n++] = '1';
    units -= 10;
  }
  out[n++] = static_cast<char>('0' + units);
  if constexpr (kDecimals > 0) {
    out[n++] = '.';
    n += kDecimals;
    put_digits_backward(out + n, kept % kScale, kDecimals);
  }
  return n;
}

using SmallFixedWriter = std::size_t (*)(char*, const FixedFigure&, int);

template <std::size_t... kDecimals>
constexpr std::array<SmallFixedWriter, sizeof...(kDecimals)> small_fixed_writers(
    std::index_sequence<kDecimals...>) {
  return {&put_small_fixed<static_cast<int>(kDecimals)>...};
}

constexpr auto kSmallFixedWriters = small_fixed_writers(std::make_index_sequence<17>());

// Pads `text` on the left to `width` into `out`; never cuts.
std::size_t pad_to_width(char* out, const char* text, std::size_t n, int width) {
  const std::size_t pad =
      n < static_cast<std::size_t>(width) ? static_cast<std::size_t>(width) - n : 0;
  std::memset(out, ' ', pad);
  std::memcpy(out + pad, text, n);
  return pad + n;
}

// The smallest k >= 0 with ax / 10^k < 16, and that quotient.
int reduce_below_16(long double ax, long double& reduced) {
  int k = 0;
  if (ax >= 16) {
    // log10(2) ~ 0.30103; the estimate is within one of the answer.
    k = static_cast<int>(static_cast<long double>(std::ilogb(ax) - 4) * 0.30103L);
    if (k < 0) k = 0;
    if (k > kMaxDecimalPower) k = kMaxDecimalPower;
  }
  reduced = k == 0 ? ax : ax / correctly_rounded_power_of_ten(k);
  while (reduced >= 16 && k < kMaxDecimalPower) {
    ++k;
    reduced = ax / correctly_rounded_power_of_ten(k);
  }
  while (k > 0) {
    const long double lower = ax / correctly_rounded_power_of_ten(k - 1);
    if (lower >= 16) break;
    --k;
    reduced = lower;
  }
  return k;
}

// Any finite |x| and decimals: the 17-decimal figure of the reduced value
// as a digit string, the decimal point moved right by k, digits past the
// figure read as 0, and the half-up rounding on the first dropped digit.
std::size_t put_general_fixed(char* out, long double ax, int decimals) {
  long double reduced = 0;
  const int k = reduce_below_16(ax, reduced);
  char figure[20];
  const std::uint64_t n17 = round_to_17_decimals(reduced);
  std::size_t figure_length = put_unsigned(figure, n17);
  // Pad to at least one units digit and 17 decimals.
  if (figure_length < 18) {
    const std::size_t pad = 18 - figure_length;
    for (std::size_t i = figure_length; i-- > 0;) figure[i + pad] = figure[i];
    for (std::size_t i = 0; i < pad; ++i) figure[i] = '0';
    figure_length = 18;
  }
  const std::size_t integer_digits = figure_length - 17 + static_cast<std::size_t>(k);
  const std::size_t kept = integer_digits + static_cast<std::size_t>(decimals);
  auto digit_at = [&](std::size_t i) { return i < figure_length ? figure[i] : '0'; };
  // One spare place in front for a carry out of the leading digit.
  char* digits = out + 1;
  for (std::size_t i = 0; i < kept; ++i) digits[i] = digit_at(i);
  bool carry = digit_at(kept) >= '5';
  for (std::size_t i = kept; carry && i-- > 0;) {
    if (digits[i] == '9') {
      digits[i] = '0';
    } else {
      ++digits[i];
      carry = false;
    }
  }
  std::size_t start = 1;
  std::size_t int_count = integer_digits;
  if (carry) {
    out[0] = '1';
    start = 0;
    ++int_count;
  }
  // Drop leading zeros of the integer part, keeping one digit.
  while (int_count > 1 && out[start] == '0') {
    ++start;
    --int_count;
  }
  std::size_t n = 0;
  for (std::size_t i = 0; i < int_count; ++i) out[n++] = out[start + i];
  if (decimals > 0) {
    // After a carry (start 0) the point's place still holds the first
    // decimal: move the decimals right first, then put the point.
    std::memmove(out + n + 1, out + start + int_count, static_cast<std::size_t>(decimals));
    out[n] = '.';
    n += 1 + static_cast<std::size_t>(decimals);
  }
  return n;
}

}  // namespace

IntegerParse parse_integer_token(std::string_view token) {
  IntegerParse result;
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  if (i == token.size()) return result;
  bool hex = false;
  if (token[i] == '$' || token[i] == 'x' || token[i] == 'X') {
    hex = true;
    ++i;
  } else if (token[i] == '0' && i + 1 < token.size() &&
             (token[i + 1] == 'x' || token[i + 1] == 'X')) {
    hex = true;
    i += 2;
  }
  const std::size_t digits = token.size() - i;
  if (hex) {
    if (digits < 1 || digits > 8) return result;
    std::uint32_t pattern = 0;
    for (; i < token.size(); ++i) {
      const int d = hex_digit_value(token[i]);
      if (d < 0) return result;
      pattern = pattern << 4 | static_cast<std::uint32_t>(d);
    }
    // The pattern is a two's-complement value; negation wraps like it.
    result.value = static_cast<std::int32_t>(negative ? 0u - pattern : pattern);
    result.valid = true;
    return result;
  }
  if (digits < 1) return result;
  std::int64_t magnitude = 0;
  for (; i < token.size(); ++i) {
    if (!is_decimal_digit(token[i])) return result;
    // Beyond 2^31 the value is out of range whatever follows; stop growing.
    if (magnitude <= (std::int64_t{1} << 31)) magnitude = magnitude * 10 + (token[i] - '0');
  }
  const std::int64_t value = negative ? -magnitude : magnitude;
  if (value < INT32_MIN || value > INT32_MAX) return result;
  result.value = static_cast<std::int32_t>(value);
  result.valid = true;
  return result;
}

namespace {

// Decimal digits from token[i] on, accumulated into `value` as value * 10 +
// digit; `i` moves past them. Returns how many were read.
long long accumulate_digits(std::string_view token, std::size_t& i, long double& value,
                            bool& nonzero_digit) {
  long long count = 0;
  for (; i < token.size() && is_decimal_digit(token[i]); ++i, ++count) {
    value = value * 10 + static_cast<long double>(token[i] - '0');
    nonzero_digit = nonzero_digit || token[i] != '0';
  }
  return count;
}

// The exponent after an exponent letter at token[i - 1]: optional sign and
// digits, saturated at kSaturatedExponent. False for a letter without digits.
bool read_exponent(std::string_view token, std::size_t& i, long long& exponent) {
  bool negative_exponent = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-'))
    negative_exponent = token[i++] == '-';
  if (i == token.size()) return false;
  for (; i < token.size() && is_decimal_digit(token[i]); ++i) {
    if (exponent < kSaturatedExponent) exponent = exponent * 10 + (token[i] - '0');
  }
  if (negative_exponent) exponent = -exponent;
  return true;
}

// value * 10^decimal_exponent for a nonzero value, by correctly rounded
// powers of ten, 10^4096 first while more is left (the order the rounding
// depends on).
long double scaled_by_ten(long double value, long long decimal_exponent) {
  if (decimal_exponent >= kInfiniteDecimalExponent) {
    return std::numeric_limits<long double>::infinity();
  }
  if (decimal_exponent <= -kInfiniteDecimalExponent) return 0.0L;
  if (decimal_exponent > 0) {
    int left = static_cast<int>(decimal_exponent);
    for (; left > kLargestDecimalStep; left -= kLargestDecimalStep) {
      value *= correctly_rounded_power_of_ten(kLargestDecimalStep);
    }
    value *= correctly_rounded_power_of_ten(left);
  } else if (decimal_exponent < 0) {
    int left = static_cast<int>(-decimal_exponent);
    for (; left > kLargestDecimalStep; left -= kLargestDecimalStep) {
      value /= correctly_rounded_power_of_ten(kLargestDecimalStep);
    }
    value /= correctly_rounded_power_of_ten(left);
  }
  return value;
}

}  // namespace

RealParse parse_real_token(std::string_view token) {
  const ExtendedArithmetic arithmetic;
  RealParse result;
  std::size_t i = 0;
  bool negative = false;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) negative = token[i++] == '-';
  if (i == token.size()) return result;  // a sign with nothing after it
  long double value = 0.0L;
  bool nonzero_digit = false;
  accumulate_digits(token, i, value, nonzero_digit);
  long long fraction_digits = 0;
  if (i < token.size() && token[i] == '.') {
    ++i;
    fraction_digits = accumulate_digits(token, i, value, nonzero_digit);
  }
  long long exponent = 0;
  if (i < token.size() && (token[i] == 'E' || token[i] == 'e')) {
    ++i;
    if (!read_exponent(token, i, exponent)) return result;  // a letter without digits
  }
  if (i != token.size()) return result;
  result.valid = true;
  if (!nonzero_digit) {
    result.value = negative ? -0.0L : 0.0L;
    return result;
  }
  value = scaled_by_ten(value, exponent - fraction_digits);
  result.value = negative ? -value : value;
  // Only the products by powers of ten can overflow; an infinity from a
  // large exponent raises no flag.
  result.overflow = raised_flags().overflow;
  return result;
}

FixedFigure fixed_figure(long double x) {
  FixedFigure figure;
  figure.value = x;
  figure.negative = std::signbit(x);
  const long double ax = std::fabs(x);
  figure.small = ax < 10;  // false for NaN and infinities
  if (figure.small) figure.n17 = round_to_17_decimals(ax);
  return figure;
}

std::size_t format_fixed_figure_at(char* out, const FixedFigure& figure, int width, int decimals) {
  width = width < 0 ? 0 : (width > kMaxFixedWidth ? kMaxFixedWidth : width);
  decimals = decimals < 0 ? 0 : (decimals > kMaxFixedDecimals ? kMaxFixedDecimals : decimals);
  // Every value the reports write: finite, below 10, few decimals.
  if (figure.small && decimals <= 16) {
    return kSmallFixedWriters[static_cast<std::size_t>(decimals)](out, figure, width);
  }
  const long double x = figure.value;
  char text[kFixedTextCapacity];
  std::size_t n = 0;
  if (std::isnan(x)) {
    text[n++] = 'N';
    text[n++] = 'a';
    text[n++] = 'n';
  } else if (std::isinf(x)) {
    text[n++] = std::signbit(x) ? '-' : '+';
    text[n++] = 'I';
    text[n++] = 'n';
    text[n++] = 'f';
  } else {
    if (std::signbit(x)) text[n++] = '-';
    n += put_general_fixed(text + n, std::fabs(x), decimals);
  }
  return pad_to_width(out, text, n, width);
}

std::size_t format_fixed(char (&out)[kFixedTextCapacity], long double x, int width, int decimals) {
  return format_fixed_figure_at(out, fixed_figure(x), width, decimals);
}

std::size_t format_integer_at(char* out, std::int32_t v) {
  std::size_t n = 0;
  // Magnitude in 64 bits: -2147483648 has no 32-bit positive counterpart.
  std::int64_t magnitude = v;
  if (magnitude < 0) {
    out[n++] = '-';
    magnitude = -magnitude;
  }
  return n + put_unsigned(out + n, static_cast<std::uint64_t>(magnitude));
}

std::size_t format_integer(char (&out)[kIntegerTextCapacity], std::int32_t v) {
  return format_integer_at(out, v);
}

}  // namespace blocklevels
