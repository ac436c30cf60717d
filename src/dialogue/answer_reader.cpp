#include "dialogue/answer_reader.hpp"

#include "arithmetic/stop_numbers.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

using runtime::InputStream;

constexpr int kLineFeed = '\n';
constexpr int kCarriageReturn = '\r';

// Skips blanks and control bytes (values up to 32), then collects at most
// `limit` bytes above 32. Returns false at end of input.
bool read_token(InputStream& in, std::size_t limit, char* token, std::size_t& length) {
  int c = in.peek();
  while (c != InputStream::kEnd && c <= ' ') {
    in.advance();
    c = in.peek();
  }
  if (c == InputStream::kEnd) return false;
  length = 0;
  while (length < limit && c != InputStream::kEnd && c > ' ') {
    token[length++] = static_cast<char>(c);
    in.advance();
    c = in.peek();
  }
  return true;
}

}  // namespace

std::int32_t read_integer(InputStream& in) {
  char token[kIntegerTokenLength];
  std::size_t length = 0;
  if (!read_token(in, kIntegerTokenLength, token, length)) return 0;
  const IntegerParse parsed = parse_integer_token({token, length});
  if (!parsed.valid) in.record_result(kInvalidNumericInput);
  return parsed.value;
}

long double read_real(InputStream& in) {
  char token[kRealTokenLength];
  std::size_t length = 0;
  if (!read_token(in, kRealTokenLength, token, length)) return 0.0L;
  const RealParse parsed = parse_real_token({token, length});
  if (!parsed.valid) in.record_result(kInvalidNumericInput);
  if (parsed.overflow) in.record_result(kFloatOverflow);
  return parsed.value;
}

void skip_line(InputStream& in) {
  for (int c = in.peek(); c != InputStream::kEnd; c = in.peek()) {
    in.advance();
    if (c == kLineFeed) return;
  }
}

LineText read_line_text(InputStream& in) {
  LineText line;
  for (;;) {
    const int c = in.peek();
    if (c == InputStream::kEnd) {
      in.consume_end_marker();
      break;
    }
    if (c == kLineFeed) break;
    in.advance();
    // A CR before LF belongs to the line end; a lone CR is dropped.
    if (c == kCarriageReturn) continue;
    if (line.text.size() == kMaxLineText) {
      line.too_long = true;
      break;
    }
    line.text.push_back(static_cast<char>(c));
  }
  return line;
}

}  // namespace blocklevels
