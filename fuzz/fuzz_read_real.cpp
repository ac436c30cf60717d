// read_real on arbitrary bytes, checked against the model of the text rules:
// the value (bit for bit, sign of zero included) and the error agree with the
// model and with parse_real_token on the same token; where the digits and the
// decimal exponent are small enough for the accumulation to be exact, the
// value is the correctly rounded one (strtold); any other normal value lies
// within 2^-55 of it; the stream consumes exactly the skipped bytes and the
// token (at most 64 bytes); a second run gives the same results.
#include <cerrno>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <limits>
#include <string>
#include <vector>

#include "driver/number_text.hpp"
#include "driver/text_rules.hpp"
#include "support.hpp"
#include "text_model.hpp"

namespace blocklevels::fuzz {
namespace {

struct Outcome {
  ExtendedFields value;
  int result;
};

bool same_bits(long double a, long double b) {
  const ExtendedFields x = decode_extended(a);
  const ExtendedFields y = decode_extended(b);
  return x.negative == y.negative && x.exponent == y.exponent && x.significand == y.significand;
}

std::string describe(long double v) {
  char text[64];
  std::snprintf(text, sizeof text, "%.21Lg", v);
  return text;
}

// The token's value by the C library, correctly rounded.
long double library_value(const RealModel& m) {
  std::string digits = m.digits;
  const std::size_t first = digits.find_first_not_of('0');
  digits = first == std::string::npos ? "0" : digits.substr(first);
  const std::string text =
      (m.negative ? "-" : "") + digits + "e" + std::to_string(m.decimal_exponent);
  errno = 0;
  return std::strtold(text.c_str(), nullptr);
}

void check_token(const TokenModel& t, long double value, int result) {
  const std::string where = "token " + escaped(t.token);
  FUZZ_CHECK(!t.token.empty() && t.token.size() <= kRealTokenLength, where);
  const RealModel expected = model_parse_real(t.token);
  const RealParse parsed = parse_real_token(t.token);
  FUZZ_CHECK(parsed.valid == expected.valid, where);
  FUZZ_CHECK(result == (expected.valid ? 0 : kInvalidNumericInput),
             where + ": I/O result " + std::to_string(result));
  FUZZ_CHECK(same_bits(value, parsed.value), where + ": read_real and parse_real_token disagree");
  if (!expected.valid) return;
  FUZZ_CHECK(same_bits(value, expected.value),
             where + ": read_real gave " + describe(value) + ", model " + describe(expected.value));
  if (expected.zero_mantissa || std::isinf(value)) return;
  const long double exact = library_value(expected);
  const std::size_t first = expected.digits.find_first_not_of('0');
  const std::size_t significant = expected.digits.size() - first;
  if (significant <= 19 && expected.decimal_exponent >= -27 && expected.decimal_exponent <= 27) {
    FUZZ_CHECK(same_bits(value, exact),
               where + ": " + describe(value) + ", correctly rounded " + describe(exact));
  }
  constexpr long double kSmallest = std::numeric_limits<long double>::min();
  if (std::isfinite(exact) && std::fabs(value) >= kSmallest && std::fabs(exact) >= kSmallest) {
    FUZZ_CHECK(std::fabs(value - exact) <= std::ldexp(std::fabs(exact), -55),
               where + ": " + describe(value) + " is far from " + describe(exact));
  }
}

std::vector<Outcome> run(const ReadingInput& input, MemoryFile& file) {
  file.assign(input.bytes);
  runtime::InputStream in;
  in.open(file.fd(), input.ctrl_z_ends_input);
  ByteCursor model{input.bytes, 0, input.ctrl_z_ends_input};
  std::vector<Outcome> outcomes;
  for (int reads = 0; reads < 64; ++reads) {
    const std::size_t start = model.position;
    const TokenModel t = model_read_token(model, kRealTokenLength);
    const long double value = read_real(in);
    const int result = in.result();
    outcomes.push_back({decode_extended(value), result});
    if (t.at_end) {
      FUZZ_CHECK(
          same_bits(value, 0.0L) && result == 0,
          "end of input gave " + describe(value) + " with I/O result " + std::to_string(result));
    } else {
      check_token(t, value, result);
    }
    FUZZ_CHECK(model.position - start - t.skipped <= kRealTokenLength, "token too long");
    if (!input.sequence || t.at_end || result != 0) break;
    skip_line(in);
    model_skip_line(model);
  }
  check_rest_of_stream(in, input.bytes, model.position, input.ctrl_z_ends_input);
  return outcomes;
}

}  // namespace
}  // namespace blocklevels::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace blocklevels::fuzz;
  static MemoryFile file("fuzz_read_real");
  const ReadingInput input = reading_input(data, size);
  const std::vector<Outcome> first = run(input, file);
  const std::vector<Outcome> second = run(input, file);
  FUZZ_CHECK(first.size() == second.size(), "a second run read a different number of answers");
  for (std::size_t i = 0; i < first.size(); ++i) {
    const ExtendedFields& a = first[i].value;
    const ExtendedFields& b = second[i].value;
    FUZZ_CHECK(a.negative == b.negative && a.exponent == b.exponent &&
                   a.significand == b.significand && first[i].result == second[i].result,
               "a second run gave a different answer " + std::to_string(i));
  }
  return 0;
}
