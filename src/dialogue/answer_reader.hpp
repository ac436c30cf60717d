// Reading the dialogue's answers from standard input: numbers as tokens after
// any blanks and control bytes, and one line of text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "runtime/text_stream.hpp"

namespace blocklevels {

// Skips bytes of value 32 or less, then reads a token of at most
// kIntegerTokenLength bytes as an integer; the bytes beyond stay unread.
// End of input gives 0; an invalid token records invalid numeric input and
// gives 0. The real reader records a value beyond the extended range as a
// floating-point overflow.
std::int32_t read_integer(runtime::InputStream& in);
// The same for a real, with tokens of at most kRealTokenLength bytes.
long double read_real(runtime::InputStream& in);
// Discards the rest of the line, its LF included.
void skip_line(runtime::InputStream& in);

// The rest of the current line, up to (not including) LF or CR LF; a lone CR
// is dropped, 0x1A ends the text. The longest text kept is kMaxLineText
// bytes; a longer line is cut there and reported through `too_long`.
inline constexpr std::size_t kMaxLineText = 4096;
struct LineText {
  std::string text;
  bool too_long = false;
};
LineText read_line_text(runtime::InputStream& in);

}  // namespace blocklevels
