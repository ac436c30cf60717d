// read_line_text on arbitrary bytes, checked against the model of the text
// rules: the text and the too-long mark agree with the model; the text never
// exceeds 4096 bytes and holds no LF or CR; the mark is set exactly when the
// line (its bytes before LF, end of input or 0x1A, CR bytes not counted) is
// longer than 4096 bytes; the stream consumes exactly what the model does; a
// second run gives the same results.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "driver/text_rules.hpp"
#include "support.hpp"
#include "text_model.hpp"

namespace blocklevels::fuzz {
namespace {

// The length of the line starting at `position`, counted directly.
std::size_t line_length(std::string_view bytes, std::size_t position, bool ctrl_z_ends_input) {
  std::size_t length = 0;
  for (std::size_t i = position; i < bytes.size(); ++i) {
    if (bytes[i] == '\n' || (ctrl_z_ends_input && bytes[i] == '\x1A')) break;
    if (bytes[i] != '\r') ++length;
  }
  return length;
}

std::vector<LineText> run(const ReadingInput& input, MemoryFile& file) {
  file.assign(input.bytes);
  runtime::InputStream in;
  in.open(file.fd(), input.ctrl_z_ends_input);
  ByteCursor model{input.bytes, 0, input.ctrl_z_ends_input};
  std::vector<LineText> lines;
  for (int reads = 0; reads < 64; ++reads) {
    const std::size_t start = model.position;
    const bool ended = model.at_end() && start == input.bytes.size();
    const LineModel expected = model_read_line_text(model);
    LineText line = read_line_text(in);
    const std::string where = "line at " + std::to_string(start);
    FUZZ_CHECK(in.result() == 0, where + ": I/O result " + std::to_string(in.result()));
    FUZZ_CHECK(line.text == expected.text && line.too_long == expected.too_long,
               where + ": read " + std::to_string(line.text.size()) + " bytes" +
                   (line.too_long ? " (too long)" : "") + ", model " +
                   std::to_string(expected.text.size()) + (expected.too_long ? " (too long)" : ""));
    FUZZ_CHECK(line.text.size() <= kMaxLineText, where);
    FUZZ_CHECK(line.text.find_first_of("\r\n") == std::string::npos, where + ": CR or LF in text");
    const std::size_t length = line_length(input.bytes, start, input.ctrl_z_ends_input);
    FUZZ_CHECK(line.too_long == (length > kMaxLineText),
               where + ": line of " + std::to_string(length) + " bytes");
    if (!line.too_long) FUZZ_CHECK(line.text.size() == length, where);
    lines.push_back(std::move(line));
    if (!input.sequence || ended) break;
    skip_line(in);
    model_skip_line(model);
  }
  check_rest_of_stream(in, input.bytes, model.position, input.ctrl_z_ends_input);
  return lines;
}

}  // namespace
}  // namespace blocklevels::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace blocklevels::fuzz;
  static MemoryFile file("fuzz_read_line_text");
  const ReadingInput input = reading_input(data, size);
  const std::vector<blocklevels::LineText> first = run(input, file);
  const std::vector<blocklevels::LineText> second = run(input, file);
  FUZZ_CHECK(first.size() == second.size(), "a second run read a different number of lines");
  for (std::size_t i = 0; i < first.size(); ++i) {
    FUZZ_CHECK(first[i].text == second[i].text && first[i].too_long == second[i].too_long,
               "a second run gave a different line " + std::to_string(i));
  }
  return 0;
}
