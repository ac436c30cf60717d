// Shared pieces of the fuzz targets: failed checks, in-memory files and the
// comparison of what an input stream still holds with what a model expects.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "runtime/text_stream.hpp"

namespace blocklevels::fuzz {

// Prints the failed condition with its details and aborts, so that libFuzzer
// keeps the input. A target may register a function that runs first.
[[noreturn]] void fail(const char* file, int line, const char* condition,
                       const std::string& detail);
void set_before_failure(void (*hook)());

#define FUZZ_CHECK(condition, detail)                                                      \
  do {                                                                                     \
    if (!(condition)) ::blocklevels::fuzz::fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (false)

// Bytes as C escapes, for failure details.
std::string escaped(std::string_view bytes);

// An anonymous in-memory file (memfd).
class MemoryFile {
 public:
  explicit MemoryFile(const char* name);
  ~MemoryFile();
  MemoryFile(const MemoryFile&) = delete;
  MemoryFile& operator=(const MemoryFile&) = delete;

  int fd() const { return fd_; }
  // Replaces the contents and moves the file offset to the start.
  void assign(std::string_view bytes);
  // The whole contents, whatever the offset.
  std::string contents() const;

 private:
  int fd_ = -1;
};

// The fuzz input of the reading targets: a flag byte, then a body that is
// repeated so that short inputs can make long lines and long tokens.
struct ReadingInput {
  bool ctrl_z_ends_input = false;  // the stream treats 0x1A as end of input
  bool sequence = false;           // read, skip_line, read, ... instead of one read
  std::string bytes;
};
ReadingInput reading_input(const std::uint8_t* data, std::size_t size);

// Checks that `in` holds exactly bytes[position..] (0x1A bytes that end the
// input are passed with consume_end_marker), i.e. that the stream consumed
// precisely what the model did.
void check_rest_of_stream(runtime::InputStream& in, std::string_view bytes, std::size_t position,
                          bool ctrl_z_ends_input);

}  // namespace blocklevels::fuzz
