// read_integer on arbitrary bytes, checked against the model of the text
// rules: the value and the error agree with the model and with
// parse_integer_token on the same token, a valid token's value round-trips
// through format_integer, the stream consumes exactly the skipped bytes and
// the token (at most 32 bytes), and a second run gives the same results.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/number_text.hpp"
#include "driver/text_rules.hpp"
#include "support.hpp"
#include "text_model.hpp"

namespace blocklevels::fuzz {
namespace {

struct Outcome {
  std::int32_t value;
  int result;
};

std::string decimal_canonical(std::string_view token) {
  bool negative = false;
  if (token.front() == '+' || token.front() == '-') {
    negative = token.front() == '-';
    token.remove_prefix(1);
  }
  while (token.size() > 1 && token.front() == '0') token.remove_prefix(1);
  if (token == "0") return "0";
  return (negative ? "-" : "") + std::string(token);
}

void check_token(const TokenModel& t, std::int32_t value, int result) {
  const std::string where = "token " + escaped(t.token);
  FUZZ_CHECK(!t.token.empty() && t.token.size() <= kIntegerTokenLength, where);
  const IntegerModel expected = model_parse_integer(t.token);
  const IntegerParse parsed = parse_integer_token(t.token);
  FUZZ_CHECK(parsed.valid == expected.valid, where);
  FUZZ_CHECK(!expected.valid || parsed.value == expected.value,
             where + ": parse_integer_token " + std::to_string(parsed.value) + ", model " +
                 std::to_string(expected.value));
  FUZZ_CHECK(value == (expected.valid ? expected.value : 0),
             where + ": read_integer gave " + std::to_string(value));
  FUZZ_CHECK(value == parsed.value, where + ": read_integer and parse_integer_token disagree");
  FUZZ_CHECK(result == (expected.valid ? 0 : kInvalidNumericInput),
             where + ": I/O result " + std::to_string(result));
  if (!expected.valid) return;
  char digits[12];
  const std::string text(digits, format_integer(digits, value));
  FUZZ_CHECK(text == model_format_integer(value), where + ": format_integer gave " + text);
  const IntegerParse again = parse_integer_token(text);
  FUZZ_CHECK(again.valid && again.value == value, where + ": " + text + " does not read back");
  if (!expected.hexadecimal) {
    FUZZ_CHECK(text == decimal_canonical(t.token), where + ": written back as " + text);
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
    const TokenModel t = model_read_token(model, kIntegerTokenLength);
    const std::int32_t value = read_integer(in);
    const int result = in.result();
    outcomes.push_back({value, result});
    if (t.at_end) {
      FUZZ_CHECK(value == 0 && result == 0, "end of input gave " + std::to_string(value) +
                                                " with I/O result " + std::to_string(result));
    } else {
      check_token(t, value, result);
    }
    FUZZ_CHECK(model.position - start - t.skipped <= kIntegerTokenLength, "token too long");
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
  static MemoryFile file("fuzz_read_integer");
  const ReadingInput input = reading_input(data, size);
  const std::vector<Outcome> first = run(input, file);
  const std::vector<Outcome> second = run(input, file);
  FUZZ_CHECK(first.size() == second.size(), "a second run read a different number of answers");
  for (std::size_t i = 0; i < first.size(); ++i) {
    FUZZ_CHECK(first[i].value == second[i].value && first[i].result == second[i].result,
               "a second run gave a different answer " + std::to_string(i));
  }
  return 0;
}
