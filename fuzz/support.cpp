#include "support.hpp"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace blocklevels::fuzz {
namespace {
void (*before_failure)() = nullptr;
}  // namespace

void set_before_failure(void (*hook)()) {
  before_failure = hook;
}

void fail(const char* file, int line, const char* condition, const std::string& detail) {
  if (before_failure != nullptr) before_failure();
  std::fprintf(stderr, "\n%s:%d: check failed: %s\n%s\n", file, line, condition, detail.c_str());
  std::fflush(stderr);
  std::abort();
}

std::string escaped(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text = "\"";
  for (const char ch : bytes) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '\\' || c == '"') {
      text += '\\';
      text += ch;
    } else if (c == '\n') {
      text += "\\n";
    } else if (c == '\r') {
      text += "\\r";
    } else if (c >= 32 && c < 127) {
      text += ch;
    } else {
      text += "\\x";
      text += kHex[c >> 4];
      text += kHex[c & 15];
    }
  }
  return text + "\"";
}

MemoryFile::MemoryFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
  if (fd_ < 0) {
    std::perror("memfd_create");
    std::abort();
  }
}

MemoryFile::~MemoryFile() {
  ::close(fd_);
}

void MemoryFile::assign(std::string_view bytes) {
  bool ok = ::ftruncate(fd_, 0) == 0;
  std::size_t done = 0;
  while (ok && done < bytes.size()) {
    const ssize_t n =
        ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(done));
    ok = n > 0;
    if (ok) done += static_cast<std::size_t>(n);
  }
  ok = ok && ::lseek(fd_, 0, SEEK_SET) == 0;
  FUZZ_CHECK(ok, "cannot fill an in-memory file");
}

std::string MemoryFile::contents() const {
  std::string text;
  char block[4096];
  for (off_t at = 0;;) {
    const ssize_t n = ::pread(fd_, block, sizeof block, at);
    FUZZ_CHECK(n >= 0, "cannot read an in-memory file");
    if (n == 0) break;
    text.append(block, static_cast<std::size_t>(n));
    at += n;
  }
  return text;
}

ReadingInput reading_input(const std::uint8_t* data, std::size_t size) {
  ReadingInput input;
  if (size == 0) return input;
  const std::uint8_t flags = data[0];
  input.ctrl_z_ends_input = (flags & 1) != 0;
  input.sequence = (flags & 2) != 0;
  const std::size_t repeat = 1 + (flags >> 2);  // 1..64
  const std::string_view body(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t i = 0; i < repeat && input.bytes.size() < (std::size_t{1} << 16); ++i) {
    input.bytes += body;
  }
  return input;
}

void check_rest_of_stream(runtime::InputStream& in, std::string_view bytes, std::size_t position,
                          bool ctrl_z_ends_input) {
  std::size_t at = position;
  for (;;) {
    const int c = in.peek();
    if (c == runtime::InputStream::kEnd) {
      if (ctrl_z_ends_input && at < bytes.size() && bytes[at] == '\x1A') {
        in.consume_end_marker();
        ++at;
        continue;
      }
      FUZZ_CHECK(at == bytes.size(), "the stream ends " + std::to_string(bytes.size() - at) +
                                         " bytes early: it consumed more than the model (model "
                                         "position " +
                                         std::to_string(position) + ")");
      return;
    }
    FUZZ_CHECK(at < bytes.size(),
               "the stream holds more bytes than the model left (model position " +
                   std::to_string(position) + ")");
    FUZZ_CHECK(c == static_cast<unsigned char>(bytes[at]),
               "the stream and the model disagree on the byte at " + std::to_string(at) +
                   " (model position " + std::to_string(position) + ")");
    in.advance();
    ++at;
  }
}

}  // namespace blocklevels::fuzz
