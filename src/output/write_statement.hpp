// Write statements on the run's streams. The items of one statement are
// collected first and then put into the stream at once, with interrupts held
// back until the line is whole in the stream; after the statement an
// interactive stream is flushed and a failure throws Stop with its number.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "arithmetic/stop.hpp"
#include "runtime/io_section.hpp"
#include "runtime/text_stream.hpp"
#include "text/number_text.hpp"

namespace blocklevels {

// The text of one write statement. Room for at most kMaxFixedItems
// fixed-point numbers (each may be thousands of digits long) and
// kOtherBytes bytes besides.
class StatementText {
 public:
  static constexpr std::size_t kMaxFixedItems = 3;
  static constexpr std::size_t kOtherBytes = 256;

  void text(std::string_view s) {
    make_room(s.size());
    std::memcpy(buffer_ + length_, s.data(), s.size());
    length_ += s.size();
  }
  void integer(std::int32_t v) {
    make_room(kIntegerTextCapacity);
    length_ += format_integer_at(buffer_ + length_, v);
  }
  void fixed(const FixedFigure& figure, int width, int decimals) {
    make_room(kFixedTextCapacity);
    length_ += format_fixed_figure_at(buffer_ + length_, figure, width, decimals);
  }
  void fixed(long double x, int width, int decimals) { fixed(fixed_figure(x), width, decimals); }
  std::string_view view() const { return {buffer_, length_}; }

 private:
  // A statement longer than its buffer is a fault of the program's own
  // texts, never of a value: refused before a byte is copied.
  void make_room(std::size_t size) const {
    if (size > sizeof buffer_ - length_) throw std::length_error("statement text too long");
  }

  char buffer_[kMaxFixedItems * kFixedTextCapacity + kOtherBytes];
  std::size_t length_ = 0;
};

// The test after a write statement. Inlined, so that the place in a stop
// report names the statement.
[[gnu::always_inline]] inline void end_write_statement(runtime::OutputStream& out) {
  out.end_statement();
  if (out.result() != 0) throw_stop(out.result());
}

// Closes a stream, if open, as a statement: its rest is written and a
// failure throws Stop, so that a run never ends with 0 after a lost write.
[[gnu::always_inline]] inline void close_stream(runtime::OutputStream& out) {
  if (!out.is_open()) return;
  out.close();
  if (out.result() != 0) throw_stop(out.result());
}

// Puts a whole line (its line end included) as one statement.
[[gnu::always_inline]] inline void write_line(runtime::OutputStream& out, std::string_view line) {
  runtime::IoSection whole_line;
  out.put(line);
  end_write_statement(out);
}

}  // namespace blocklevels
