#include "text_model.hpp"

#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

#include "support.hpp"

namespace blocklevels::fuzz {
namespace {

__extension__ using U128 = unsigned __int128;

bool is_digit(char c) {
  return c >= '0' && c <= '9';
}
bool is_hex_digit(char c) {
  return is_digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// An exact binary value: significand * 2^exponent. The significand is not
// necessarily normalized; zero is significand 0.
struct Exact {
  std::uint64_t significand = 0;
  int exponent = 0;
};

int bit_length(std::uint64_t v) {
  return v == 0 ? 0 : 64 - __builtin_clzll(v);
}
int bit_length(U128 v) {
  const auto high = static_cast<std::uint64_t>(v >> 64);
  return high != 0 ? 64 + bit_length(high) : bit_length(static_cast<std::uint64_t>(v));
}

// value * 2^exponent rounded to a 64-bit significand, nearest, ties to even.
Exact round_to_64_bits(U128 value, int exponent) {
  const int length = bit_length(value);
  if (length <= 64) {
    if (length == 0) return {};
    const int shift = 64 - length;
    return {static_cast<std::uint64_t>(value) << shift, exponent - shift};
  }
  const int drop = length - 64;
  auto significand = static_cast<std::uint64_t>(value >> drop);
  const U128 rest = value & ((U128{1} << drop) - 1);
  const U128 half = U128{1} << (drop - 1);
  int result_exponent = exponent + drop;
  if (rest > half || (rest == half && (significand & 1) != 0)) {
    ++significand;
    if (significand == 0) {
      significand = std::uint64_t{1} << 63;
      ++result_exponent;
    }
  }
  return {significand, result_exponent};
}

Exact multiply(const Exact& a, const Exact& b) {
  return round_to_64_bits(static_cast<U128>(a.significand) * b.significand,
                          a.exponent + b.exponent);
}

// a / b rounded to 64 bits; both significands normalized (bit 63 set).
Exact divide(const Exact& a, const Exact& b) {
  const U128 numerator = static_cast<U128>(a.significand) << 64;
  U128 quotient = numerator / b.significand;
  U128 remainder = numerator % b.significand;
  int exponent = a.exponent - 64 - b.exponent;
  bool round_bit = false;
  bool sticky = false;
  if ((quotient >> 64) != 0) {  // 65 bits: the lowest one is the round bit
    round_bit = (quotient & 1) != 0;
    sticky = remainder != 0;
    quotient >>= 1;
    ++exponent;
  } else {  // 64 bits: one more quotient bit decides
    remainder <<= 1;
    round_bit = remainder >= b.significand;
    if (round_bit) remainder -= b.significand;
    sticky = remainder != 0;
  }
  auto significand = static_cast<std::uint64_t>(quotient);
  if (round_bit && (sticky || (significand & 1) != 0)) {
    ++significand;
    if (significand == 0) {
      significand = std::uint64_t{1} << 63;
      ++exponent;
    }
  }
  return {significand, exponent};
}

bool below_16(const Exact& v) {
  return v.significand == 0 || bit_length(v.significand) + v.exponent <= 4;
}

bool below_half(const Exact& v) {
  return v.significand == 0 || bit_length(v.significand) + v.exponent <= -1;
}

// The nearest integer, ties to even; the value must be below 2^64.
std::uint64_t nearest_integer(const Exact& v) {
  if (v.significand == 0) return 0;
  if (v.exponent >= 0) return v.significand << v.exponent;
  const int shift = -v.exponent;
  if (shift > 64) return 0;  // below 2^64 * 2^-65 = 1/2
  const U128 wide = v.significand;
  const U128 integer = wide >> shift;
  const U128 rest = wide & ((U128{1} << shift) - 1);
  const U128 half = U128{1} << (shift - 1);
  U128 result = integer;
  if (rest > half || (rest == half && (integer & 1) != 0)) ++result;
  return static_cast<std::uint64_t>(result);
}

Exact exact_of(long double x) {
  const ExtendedFields f = decode_extended(x);
  const int biased = f.exponent == 0 ? 1 : f.exponent;
  return {f.significand, biased - 16383 - 63};
}

long double extended_of(const Exact& normalized) {
  ExtendedFields f;
  f.significand = normalized.significand;
  f.exponent = static_cast<std::uint16_t>(normalized.exponent + 63 + 16383);
  return encode_extended(f);
}

// Exact powers of ten, built once as a little-endian base-2^32 integer that
// is multiplied by ten, each rounded to 64 bits.
const std::vector<Exact>& power_table() {
  static const std::vector<Exact> table = [] {
    std::vector<Exact> powers;
    powers.reserve(kModelMaxPower + 1);
    std::vector<std::uint32_t> n{1};
    for (int k = 0; k <= kModelMaxPower; ++k) {
      if (k > 0) {
        std::uint64_t carry = 0;
        for (auto& limb : n) {
          const std::uint64_t product = std::uint64_t{limb} * 10 + carry;
          limb = static_cast<std::uint32_t>(product);
          carry = product >> 32;
        }
        if (carry != 0) n.push_back(static_cast<std::uint32_t>(carry));
      }
      const int length = static_cast<int>(n.size() - 1) * 32 + bit_length(std::uint64_t{n.back()});
      auto bit = [&](int i) { return (n[static_cast<std::size_t>(i / 32)] >> (i % 32)) & 1u; };
      if (length <= 64) {
        U128 value = 0;
        for (std::size_t i = n.size(); i-- > 0;) value = value << 32 | n[i];
        powers.push_back(round_to_64_bits(value, 0));
        continue;
      }
      const int drop = length - 64;
      std::uint64_t significand = 0;
      for (int i = length - 1; i >= drop; --i) significand = significand << 1 | bit(i);
      const bool round_bit = bit(drop - 1) != 0;
      bool sticky = false;
      for (int i = drop - 2; i >= 0 && !sticky; --i) sticky = bit(i) != 0;
      int exponent = drop;
      if (round_bit && (sticky || (significand & 1) != 0)) {
        ++significand;
        if (significand == 0) {
          significand = std::uint64_t{1} << 63;
          ++exponent;
        }
      }
      powers.push_back({significand, exponent});
    }
    return powers;
  }();
  return table;
}

const Exact& exact_power(int k) {
  return power_table()[static_cast<std::size_t>(k)];
}

std::uint64_t small_power_of_ten(int k) {
  std::uint64_t p = 1;
  for (int i = 0; i < k; ++i) p *= 10;
  return p;
}

}  // namespace

TokenModel model_read_token(ByteCursor& cursor, std::size_t limit) {
  TokenModel t;
  const std::size_t start = cursor.position;
  while (!cursor.at_end() && static_cast<unsigned char>(cursor.bytes[cursor.position]) <= 32) {
    ++cursor.position;
  }
  t.skipped = cursor.position - start;
  if (cursor.at_end()) {
    t.at_end = true;
    return t;
  }
  while (t.token.size() < limit && cursor.position < cursor.bytes.size() &&
         static_cast<unsigned char>(cursor.bytes[cursor.position]) > 32) {
    t.token += cursor.bytes[cursor.position++];
  }
  return t;
}

void model_skip_line(ByteCursor& cursor) {
  while (!cursor.at_end()) {
    if (cursor.bytes[cursor.position++] == '\n') return;
  }
}

LineModel model_read_line_text(ByteCursor& cursor) {
  LineModel line;
  while (cursor.position < cursor.bytes.size()) {
    const char c = cursor.bytes[cursor.position];
    if (cursor.ctrl_z_ends_input && c == '\x1A') {
      ++cursor.position;
      break;
    }
    if (c == '\n') break;
    ++cursor.position;
    if (c == '\r') continue;
    if (line.text.size() == kModelMaxLineText) {
      line.too_long = true;
      break;
    }
    line.text += c;
  }
  return line;
}

IntegerModel model_parse_integer(std::string_view token) {
  IntegerModel m;
  bool negative = false;
  if (!token.empty() && (token.front() == '+' || token.front() == '-')) {
    negative = token.front() == '-';
    token.remove_prefix(1);
  }
  std::size_t prefix = 0;
  if (!token.empty() && (token[0] == '$' || token[0] == 'x' || token[0] == 'X')) {
    prefix = 1;
  } else if (token.size() >= 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) {
    prefix = 2;
  }
  if (prefix > 0) {
    const std::string_view digits = token.substr(prefix);
    if (digits.empty() || digits.size() > 8) return m;
    for (const char c : digits) {
      if (!is_hex_digit(c)) return m;
    }
    std::uint32_t pattern = 0;
    const auto [end, error] =
        std::from_chars(digits.data(), digits.data() + digits.size(), pattern, 16);
    if (error != std::errc{} || end != digits.data() + digits.size()) return m;
    m.valid = true;
    m.hexadecimal = true;
    m.value = static_cast<std::int32_t>(negative ? ~pattern + 1u : pattern);
    return m;
  }
  if (token.empty()) return m;
  for (const char c : token) {
    if (!is_digit(c)) return m;
  }
  std::uint64_t magnitude = 0;
  const auto [end, error] = std::from_chars(token.data(), token.data() + token.size(), magnitude);
  if (error != std::errc{} || end != token.data() + token.size()) return m;  // beyond 2^64
  const std::uint64_t limit = negative ? 2147483648u : 2147483647u;
  if (magnitude > limit) return m;
  m.valid = true;
  m.value = negative ? static_cast<std::int32_t>(-static_cast<std::int64_t>(magnitude))
                     : static_cast<std::int32_t>(magnitude);
  return m;
}

RealModel model_parse_real(std::string_view token) {
  RealModel m;
  std::size_t i = 0;
  if (i < token.size() && (token[i] == '+' || token[i] == '-')) m.negative = token[i++] == '-';
  if (i == token.size()) return m;
  long long fraction_digits = 0;
  while (i < token.size() && is_digit(token[i])) m.digits += token[i++];
  if (i < token.size() && token[i] == '.') {
    for (++i; i < token.size() && is_digit(token[i]); ++i) {
      m.digits += token[i];
      ++fraction_digits;
    }
  }
  long long exponent = 0;
  if (i < token.size() && (token[i] == 'e' || token[i] == 'E')) {
    ++i;
    bool negative_exponent = false;
    if (i < token.size() && (token[i] == '+' || token[i] == '-')) {
      negative_exponent = token[i++] == '-';
    }
    if (i == token.size() || !is_digit(token[i])) return m;
    for (; i < token.size() && is_digit(token[i]); ++i) {
      exponent = exponent * 10 + (token[i] - '0');
      if (exponent > 1000000000) exponent = 1000000000;
    }
    if (negative_exponent) exponent = -exponent;
  }
  if (i != token.size()) return m;
  m.valid = true;
  m.decimal_exponent = exponent - fraction_digits;
  long double value = 0.0L;
  for (const char c : m.digits) {
    value = value * 10.0L + static_cast<long double>(c - '0');
    if (c != '0') m.zero_mantissa = false;
  }
  if (m.zero_mantissa) {
    value = 0.0L;
  } else if (m.decimal_exponent >= 5120) {
    value = std::numeric_limits<long double>::infinity();
  } else if (m.decimal_exponent <= -5120) {
    value = 0.0L;
  } else {
    long long left = m.decimal_exponent < 0 ? -m.decimal_exponent : m.decimal_exponent;
    for (; left > 4096; left -= 4096) {
      value = m.decimal_exponent > 0 ? value * model_power_of_ten(4096)
                                     : value / model_power_of_ten(4096);
    }
    value = m.decimal_exponent > 0 ? value * model_power_of_ten(static_cast<int>(left))
                                   : value / model_power_of_ten(static_cast<int>(left));
    m.overflows = std::isinf(value);
  }
  m.value = m.negative ? -value : value;
  return m;
}

std::string model_format_integer(std::int32_t v) {
  char text[16];
  const auto [end, error] = std::to_chars(text, text + sizeof text, v);
  return {text, static_cast<std::size_t>(end - text)};
}

long double model_power_of_ten(int k) {
  return extended_of(exact_power(k));
}

ExtendedFields decode_extended(long double x) {
  unsigned char bytes[sizeof(long double)] = {};
  std::memcpy(bytes, &x, sizeof x);
  ExtendedFields f;
  for (int i = 7; i >= 0; --i) f.significand = f.significand << 8 | bytes[i];
  f.exponent = static_cast<std::uint16_t>((bytes[9] & 0x7F) << 8 | bytes[8]);
  f.negative = (bytes[9] & 0x80) != 0;
  return f;
}

long double encode_extended(const ExtendedFields& fields) {
  unsigned char bytes[sizeof(long double)] = {};
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<unsigned char>(fields.significand >> (8 * i));
  bytes[8] = static_cast<unsigned char>(fields.exponent & 0xFF);
  bytes[9] =
      static_cast<unsigned char>((fields.exponent >> 8 & 0x7F) | (fields.negative ? 0x80 : 0));
  long double x;
  std::memcpy(&x, bytes, sizeof x);
  return x;
}

ExtendedFields supported_encoding(ExtendedFields fields) {
  constexpr std::uint64_t kIntegerBit = std::uint64_t{1} << 63;
  if (fields.exponent != 0) {
    fields.significand |= kIntegerBit;
  } else if ((fields.significand & kIntegerBit) != 0) {
    fields.exponent = 1;  // a pseudo-denormal has the value of this normal
  }
  return fields;
}

std::string model_format_fixed(long double x, int width, int decimals) {
  const ExtendedFields f = decode_extended(x);
  std::string text;
  if (f.exponent == 0x7FFF) {
    text = (f.significand << 1) == 0 ? (f.negative ? "-Inf" : "+Inf") : "Nan";
  } else {
    // Bring |x| below 16 by the smallest power of ten k that does it, each
    // quotient rounded to 64 bits.
    const Exact magnitude = exact_of(x);
    Exact reduced = magnitude;
    int k = 0;
    if (!below_16(magnitude)) {
      const int log2 = bit_length(magnitude.significand) - 1 + magnitude.exponent;
      k = static_cast<int>((log2 - 4) * 0.30103);
      if (k < 1) k = 1;
      if (k > kModelMaxPower) k = kModelMaxPower;
      reduced = divide(magnitude, exact_power(k));
      while (!below_16(reduced) && k < kModelMaxPower)
        reduced = divide(magnitude, exact_power(++k));
      while (k > 1) {
        const Exact lower = divide(magnitude, exact_power(k - 1));
        if (!below_16(lower)) break;
        reduced = lower;
        --k;
      }
      FUZZ_CHECK(extended_of(reduced) == std::fabs(x) / model_power_of_ten(k),
                 "the model's exact quotient differs from the extended division");
    }
    // |x| to 17 decimals: the product with 10^17 rounded to 64 bits, then to
    // the nearest integer, ties to even.
    const Exact product = multiply(reduced, exact_power(17));
    if (!below_half(product)) {
      const long double reduced_value = k == 0 ? std::fabs(x) : extended_of(reduced);
      FUZZ_CHECK(extended_of(product) == reduced_value * 1e17L,
                 "the model's exact product differs from the extended product");
    }
    const std::uint64_t n = nearest_integer(product);
    // The figure n * 10^(k - 17): keep `decimals` decimals and round half-up
    // on the next digit; digits past the figure are zeros.
    const int shift = k - 17 + decimals;
    std::string kept;
    if (shift >= 0) {
      kept = n == 0 ? "0" : std::to_string(n) + std::string(static_cast<std::size_t>(shift), '0');
    } else {
      const std::uint64_t divisor = small_power_of_ten(-shift);
      std::uint64_t units = n / divisor;
      const std::uint64_t next_digit = n / (divisor / 10) % 10;
      if (next_digit >= 5) ++units;
      kept = std::to_string(units);
    }
    const auto d = static_cast<std::size_t>(decimals);
    if (kept.size() < d + 1) kept.insert(0, d + 1 - kept.size(), '0');
    text = f.negative ? "-" : "";
    text += kept.substr(0, kept.size() - d);
    if (d > 0) text += "." + kept.substr(kept.size() - d);
  }
  if (text.size() < static_cast<std::size_t>(width)) {
    text.insert(0, static_cast<std::size_t>(width) - text.size(), ' ');
  }
  return text;
}

}  // namespace blocklevels::fuzz
