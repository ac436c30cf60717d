// Reading answers and writing text on the run's streams. Every read or write
// statement ends with a test of the stream's I/O result; a failure stops the
// run with its error number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "driver/number_text.hpp"
#include "model/extended_real.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels {

using runtime::InputStream;
using runtime::OutputStream;

// Invalid numeric input.
inline constexpr int kInvalidNumericInput = 106;

// Skips bytes of value 32 or less, then reads a token of at most 32 bytes as
// an integer. End of input gives 0; an invalid token records 106 and gives 0.
std::int32_t read_integer(InputStream& in);
// The same for a real, with tokens of at most 64 bytes.
long double read_real(InputStream& in);
// Discards the rest of the line, its LF included.
void skip_line(InputStream& in);

// The rest of the current line. Longest name kept; a longer line is cut there
// and reported through `too_long`.
inline constexpr std::size_t kMaxLineText = 4096;
struct LineText {
  std::string text;
  bool too_long = false;
};
LineText read_line_text(InputStream& in);

// The items of one write statement collected in order and then put into the
// stream at once: the same bytes as writing them one by one, with one copy
// into the stream's buffer. Room for at most kMaxFixedItems fixed-point
// numbers (each may be thousands of digits long) and 256 bytes besides.
class StatementText {
 public:
  static constexpr std::size_t kMaxFixedItems = 3;

  void text(std::string_view s) {
    std::memcpy(buffer_ + length_, s.data(), s.size());
    length_ += s.size();
  }
  void integer(std::int32_t v) { length_ += format_integer_at(buffer_ + length_, v); }
  void fixed(const FixedFigure& figure, int width, int decimals) {
    length_ += format_fixed_figure_at(buffer_ + length_, figure, width, decimals);
  }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  char buffer_[kMaxFixedItems * kFixedTextCapacity + 256];
  std::size_t length_ = 0;
};

void write_text(OutputStream& out, std::string_view s);
void write_integer(OutputStream& out, std::int32_t v);
void write_fixed(OutputStream& out, long double x, int width, int decimals);
void write_line_end(OutputStream& out);

// The test after a statement: an interactive stream is flushed first, then a
// failure stops the run. Inlined so that the stop report names the statement.
[[gnu::always_inline]] inline void end_write_statement(OutputStream& out) {
  out.end_statement();
  if (out.result() != 0) runtime::stop_run(out.result());
}
[[gnu::always_inline]] inline void end_read_statement(InputStream& in) {
  if (in.result() != 0) runtime::stop_run(in.result());
}

}  // namespace blocklevels
