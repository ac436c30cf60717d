#include "sweep/option_values.hpp"

#include <charconv>
#include <cmath>

#include "arithmetic/extended_arithmetic.hpp"
#include "errors/failure.hpp"
#include "text/fields.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

std::string quoted(std::string_view text) {
  return "'" + std::string(text) + "'";
}

bool parse_decimal_integer(std::string_view text, std::int32_t& value) {
  if (text.empty() || text.size() > 12) return false;
  std::size_t i = text[0] == '+' || text[0] == '-' ? 1 : 0;
  if (i == text.size()) return false;
  std::int64_t magnitude = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    magnitude = magnitude * 10 + (text[i] - '0');
  }
  const std::int64_t signed_value = text[0] == '-' ? -magnitude : magnitude;
  if (signed_value < INT32_MIN || signed_value > INT32_MAX) return false;
  value = static_cast<std::int32_t>(signed_value);
  return true;
}

[[noreturn]] void refuse(std::string_view option, const std::string& why) {
  throw Failure(kBadUsage, std::string(option) + ": " + why);
}

// False for text that is not a number in the dialogue's syntax; a number
// beyond the extended range is refused with its own message.
bool parse_real(std::string_view option, std::string_view text, long double& value) {
  if (text.empty() || text.size() > kRealTokenLength) return false;
  // A mantissa digit is required: the dialogue reads "e5" and "." as 0,
  // which no one means on a command line.
  const std::size_t exponent = text.find_first_of("eE");
  if (text.substr(0, exponent).find_first_of("0123456789") == std::string_view::npos) {
    return false;
  }
  const RealParse parsed = parse_real_token(text);
  value = parsed.value;
  if (parsed.valid && !std::isfinite(value)) {
    refuse(option, quoted(text) + " is beyond the extended range (about 1.19e4932)");
  }
  return parsed.valid;
}

// A range's parts: FROM, TO, COUNT and whether it is geometric.
struct Range {
  std::string_view from, to;
  std::int32_t count = 0;
  bool geometric = false;
};

Range parse_range(std::string_view option, const std::vector<std::string_view>& parts) {
  Range range;
  if (parts.size() != 3 && parts.size() != 4) {
    refuse(option, "a range is FROM:TO:COUNT or FROM:TO:COUNT:log");
  }
  range.from = parts[0];
  range.to = parts[1];
  if (!parse_decimal_integer(parts[2], range.count) || range.count < 1 ||
      range.count > kMaxOptionValues) {
    refuse(option, "the count " + quoted(parts[2]) + " of a range must be 1 to " +
                       std::to_string(kMaxOptionValues));
  }
  if (parts.size() == 4 && parts[3] != "log") {
    refuse(option, quoted(parts[3]) + " after the count: only 'log' may follow it");
  }
  range.geometric = parts.size() == 4;
  return range;
}

// A range of one value has one end: FROM:FROM:1, never FROM:TO:1 (its TO
// would be dropped unseen).
void check_ends(std::string_view option, std::string_view text, const Range& range,
                bool same_ends) {
  if (range.count == 1 && !same_ends) {
    refuse(option, "the range " + quoted(text) +
                       " has one value but two ends; give COUNT 2 or more, or one value");
  }
}

// Value n of `count` from `from` to `to`, both ends exact.
long double range_value(long double from, long double to, std::int32_t n, std::int32_t count,
                        bool geometric) {
  if (n == 0 || count == 1) return from;
  if (n == count - 1) return to;
  const long double share = static_cast<long double>(n) / static_cast<long double>(count - 1);
  if (geometric) return std::exp(std::log(from) + share * (std::log(to) - std::log(from)));
  return from + share * (to - from);
}

}  // namespace

std::vector<std::int32_t> integer_values(std::string_view option, std::string_view text,
                                         std::string_view range_words) {
  const ExtendedArithmetic arithmetic;
  std::vector<std::int32_t> values;
  const std::vector<std::string_view> range_parts = split(text, ':');
  if (range_parts.size() > 1) {
    const Range range = parse_range(option, range_parts);
    std::int32_t from = 0, to = 0;
    if (!parse_decimal_integer(range.from, from) || !parse_decimal_integer(range.to, to)) {
      refuse(option, quoted(text) + " is not a range of integers");
    }
    check_ends(option, text, range, from == to);
    if (range.geometric && (from <= 0 || to <= 0)) {
      refuse(option, "a geometric range needs positive ends");
    }
    for (std::int32_t n = 0; n < range.count; ++n) {
      const long double v = range_value(from, to, n, range.count, range.geometric);
      const auto value = static_cast<std::int32_t>(std::llround(v));
      if (values.empty() || values.back() != value) values.push_back(value);
    }
    return values;
  }
  const std::vector<std::string_view> items = split(text, ',');
  if (static_cast<std::int64_t>(items.size()) > kMaxOptionValues) {
    refuse(option, "more than " + std::to_string(kMaxOptionValues) + " values");
  }
  for (const std::string_view item : items) {
    std::int32_t value = 0;
    if (!parse_decimal_integer(item, value)) {
      refuse(option, quoted(item) + " is not an integer " + std::string(range_words));
    }
    values.push_back(value);
  }
  return values;
}

std::vector<RealValue> real_values(std::string_view option, std::string_view text) {
  const ExtendedArithmetic arithmetic;
  std::vector<RealValue> values;
  const std::vector<std::string_view> range_parts = split(text, ':');
  if (range_parts.size() > 1) {
    const Range range = parse_range(option, range_parts);
    long double from = 0, to = 0;
    if (!parse_real(option, range.from, from) || !parse_real(option, range.to, to)) {
      refuse(option, quoted(text) + " is not a range of numbers");
    }
    check_ends(option, text, range, from == to);
    if (range.geometric && (from <= 0 || to <= 0)) {
      refuse(option, "a geometric range needs positive ends");
    }
    for (std::int32_t n = 0; n < range.count; ++n) {
      if (n == 0 || n == range.count - 1) {
        const std::string_view end = n == 0 ? range.from : range.to;
        values.push_back({n == 0 ? from : to, std::string(end)});
        continue;
      }
      const double inner =
          static_cast<double>(range_value(from, to, n, range.count, range.geometric));
      char digits[32];
      const auto written = std::to_chars(digits, digits + sizeof digits, inner);
      const std::string shortest(digits, written.ptr);
      long double value = 0;
      parse_real(option, shortest, value);
      values.push_back({value, shortest});
    }
    return values;
  }
  const std::vector<std::string_view> items = split(text, ',');
  if (static_cast<std::int64_t>(items.size()) > kMaxOptionValues) {
    refuse(option, "more than " + std::to_string(kMaxOptionValues) + " values");
  }
  for (const std::string_view item : items) {
    long double value = 0;
    if (!parse_real(option, item, value)) refuse(option, quoted(item) + " is not a number");
    values.push_back({value, std::string(item)});
  }
  return values;
}

std::int32_t one_integer(std::string_view option, std::string_view text) {
  std::int32_t value = 0;
  if (text.find_first_of(",:") != std::string_view::npos || !parse_decimal_integer(text, value)) {
    refuse(option, quoted(text) + " is not one integer");
  }
  return value;
}

std::uint64_t seed_value(std::string_view option, std::string_view text) {
  std::uint64_t seed = 0;
  if (text.empty() || text.size() > 20) refuse(option, quoted(text) + " is not a seed");
  for (const char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (c < '0' || c > '9' || seed > (UINT64_MAX - digit) / 10) {
      refuse(option, quoted(text) + " is not a seed from 0 to 18446744073709551615");
    }
    seed = seed * 10 + digit;
  }
  return seed;
}

}  // namespace blocklevels
