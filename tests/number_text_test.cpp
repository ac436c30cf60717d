// Typed numbers, printed numbers and the powers of ten behind them.
#include "text/number_text.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>

#include "text/decimal_powers.hpp"

namespace blocklevels {
namespace {

TEST(TypedIntegers, ReadAsTheTextRulesSay) {
  const std::pair<const char*, std::int32_t> valid[] = {
      {"007", 7},
      {"$10", 16},
      {"x10", 16},
      {"X10", 16},
      {"0x10", 16},
      {"0X10", 16},
      {"-$10", -16},
      {"-0x10", -16},
      {"+7", 7},
      {"$FFFFFFFF", -1},
      {"-$FFFFFFFF", 1},
      {"$80000000", INT32_MIN},
      {"$7fffffff", INT32_MAX},
      {"$aBc", 0xABC},
      {"$00000001", 1},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"00000000000000000000000000000042", 42},
  };
  for (const auto& [typed, value] : valid) {
    const IntegerParse parsed = parse_integer_token(typed);
    EXPECT_TRUE(parsed.valid) << typed;
    EXPECT_EQ(parsed.value, value) << typed;
  }
  // Out of range (2^32 would wrap to 0), nine hex digits, no digit, or another
  // character.
  for (const char* typed : {"2147483648", "-2147483649", "4294967296", "99999999999999999999",
                            "$123456789", "$000000001", "0x", "$", "x", "$G", "1.5", "12a", "1,000",
                            "+-5", "--5", "-", "+", "1e3", "$-1"}) {
    EXPECT_FALSE(parse_integer_token(typed).valid) << typed;
  }
}

TEST(TypedReals, ReadAsTheTextRulesSay) {
  const long double infinity = std::numeric_limits<long double>::infinity();
  // Each expected value is the correctly rounded quotient or product of two
  // exact extended values, as the reading rule prescribes.
  const std::pair<const char*, long double> valid[] = {
      {"5.", 5.0L},
      {".", 0.0L},
      {".5", 0.5L},
      {"e5", 0.0L},
      {"E5", 0.0L},
      {"1E-2", 0.01L},
      {"1e+2", 100.0L},
      {"0.3", 3.0L / 10.0L},
      {"-0.3", -(3.0L / 10.0L)},
      {"+2.5", 2.5L},
      {"0.0045", 45.0L / 10000.0L},
      {"123.456e1", 123456.0L / 100.0L},
      {"12345678901234567890", 12345678901234567890.0L},  // below 2^64: exact
      {"1e27", 1e27L},
      {"0.000000000000000000000000000001", 1.0L / 1e30L},
      // Beyond 10^4096: times 10^4096, then the rest, each rounded (the
      // values from a 64-bit-significand evaluation of the two products).
      {"1e4500", 0x6648873c3327289bp14886L},
      {"3e4900", 0x82ed831d82e9bb9p16220L},
      // An exponent beyond any long long saturates.
      {"1e9999999999999999999", infinity},
      {"1e-9999999999999999999", 0.0L},
      {"1e5120", infinity},
      {"-1e5120", -infinity},
      {"1e-5120", 0.0L},
  };
  for (const auto& [typed, value] : valid) {
    const RealParse parsed = parse_real_token(typed);
    EXPECT_TRUE(parsed.valid) << typed;
    EXPECT_EQ(parsed.value, value) << typed;
  }
  for (const char* typed : {"1,5", "1e", "1e+", "1E-", "+", "-", "1..5", "1.5.", "1e5e5", "1e2.5",
                            "0x10", "inf", "nan", "+-1"}) {
    EXPECT_FALSE(parse_real_token(typed).valid) << typed;
  }
}

std::string fixed(long double x, int width, int decimals) {
  char out[kFixedTextCapacity];
  return std::string(out, format_fixed(out, x, width, decimals));
}

struct FixedRow {
  long double x;
  const char* w3d3;
  const char* w10d6;
  const char* w5d5;
};

TEST(FixedFormat, ExampleTable) {
  const FixedRow rows[] = {{0.0L, "0.000", "  0.000000", "0.00000"},
                           {0.5L, "0.500", "  0.500000", "0.50000"},
                           {1.0L, "1.000", "  1.000000", "1.00000"},
                           {0.0123456789L, "0.012", "  0.012346", "0.01235"},
                           {0.0625L, "0.063", "  0.062500", "0.06250"},
                           {static_cast<long double>(0.0045), "0.005", "  0.004500", "0.00450"},
                           {static_cast<long double>(5e-7), "0.000", "  0.000001", "0.00000"},
                           {0.9995L, "1.000", "  0.999500", "0.99950"},
                           {2.0L / 3.0L, "0.667", "  0.666667", "0.66667"},
                           {-0.0001L, "-0.000", " -0.000100", "-0.00010"},
                           {-0.0L, "-0.000", " -0.000000", "-0.00000"},
                           {9.9996L, "10.000", "  9.999600", "9.99960"},
                           {-9.9999996L, "-10.000", "-10.000000", "-10.00000"}};
  for (const auto& row : rows) {
    EXPECT_EQ(fixed(row.x, 3, 3), row.w3d3) << static_cast<double>(row.x);
    EXPECT_EQ(fixed(row.x, 10, 6), row.w10d6) << static_cast<double>(row.x);
    EXPECT_EQ(fixed(row.x, 5, 5), row.w5d5) << static_cast<double>(row.x);
  }
}

struct FixedCase {
  long double x;
  int width;
  int decimals;
  const char* text;
};

TEST(FixedFormat, NonFiniteLargeAndOtherPrecisions) {
  const long double inf = std::numeric_limits<long double>::infinity();
  const FixedCase cases[] = {
      {std::numeric_limits<long double>::quiet_NaN(), 3, 3, "Nan"},
      {std::numeric_limits<long double>::quiet_NaN(), 10, 6, "       Nan"},
      {inf, 3, 3, "+Inf"},
      {inf, 10, 6, "      +Inf"},
      {-inf, 5, 5, " -Inf"},
      {123.456L, 10, 6, "123.456000"},
      {-123.456L, 10, 6, "-123.456000"},
      {99.9996L, 3, 3, "100.000"},  // the carry runs into a new digit
      {1e20L, 5, 5, "100000000000000000000.00000"},
      {1e25L, 3, 3, "10000000000000000000000000.000"},
      {999.9996L, 3, 3, "1000.000"},
      // 2^70 / 10^20 rounded, times 10^17 rounded, is ...303.5: even gives
      // ...304, and the places beyond the 17-decimal figure read as 0.
      {std::ldexp(1.0L, 70), 3, 3, "1180591620717411304000.000"},
      {2.5L, 0, 0, "3"},  // half-up, no point without decimals
      {12.5L, 0, 0, "13"},
      {99.5L, 3, 0, "100"},
      {0.5L, 1, 0, "1"},
      // 2^-18 * 10^17 = 381469726562.5 exactly: a tie, rounded to even, and
      // decimals past the 17th are 0.
      {std::ldexp(1.0L, -18), 0, 17, "0.00000381469726562"},
      {std::ldexp(1.0L, -18), 0, 20, "0.00000381469726562000"},
      {std::ldexp(3.0L, -18), 0, 17, "0.00001144409179688"},  // ...687.5 to even
      {std::ldexp(1.0L, -18), 0, 16, "0.0000038146972656"}};
  for (const auto& c : cases) {
    EXPECT_EQ(fixed(c.x, c.width, c.decimals), c.text) << c.text;
  }
}

// Exact up to 10^27; beyond, correctly rounded like the C library's reading
// of "1e<k>" (nearest, ties to even).
TEST(PowersOfTen, CorrectlyRounded) {
  for (int k = 0; k <= kMaxDecimalPower; ++k) {
    const std::string text = "1e" + std::to_string(k);
    EXPECT_EQ(correctly_rounded_power_of_ten(k), std::strtold(text.c_str(), nullptr)) << k;
  }
}

}  // namespace
}  // namespace blocklevels
