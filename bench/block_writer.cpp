// The cost of output alone: writes CONSOLE_BYTES bytes to standard output and
// FILE_BYTES bytes to FILE (created or truncated) in 128-byte write() calls,
// the two streams interleaved in proportion to their sizes as a run fills
// them, each one's last partial block written at the end.
//
//   blocklevels_block_writer CONSOLE_BYTES FILE_BYTES FILE
#include <fcntl.h>
#include <unistd.h>

#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

constexpr std::size_t kBlock = 128;

bool write_all(int fd, const char* bytes, std::size_t size) {
  while (size > 0) {
    const ssize_t n = write(fd, bytes, size);
    if (n <= 0) return false;
    bytes += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

bool parse_size(const char* text, std::size_t& value) {
  char* end = nullptr;
  const unsigned long long parsed = std::strtoull(text, &end, 10);
  value = static_cast<std::size_t>(parsed);
  return end != text && *end == '\0';
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t console_bytes = 0;
  std::size_t file_bytes = 0;
  if (argc != 4 || !parse_size(argv[1], console_bytes) || !parse_size(argv[2], file_bytes)) {
    std::fprintf(stderr, "usage: %s CONSOLE_BYTES FILE_BYTES FILE\n", argv[0]);
    return 2;
  }
  const int file = open(argv[3], O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (file < 0) {
    std::perror(argv[3]);
    return 1;
  }
  char block[kBlock];
  const char pattern[] = "Xl(123) <=  0.123456  Xl_1(123) <=  0.123456\r\n";
  for (std::size_t n = 0; n < kBlock; ++n) block[n] = pattern[n % (sizeof pattern - 1)];

  const std::size_t console_blocks = console_bytes / kBlock;
  const std::size_t file_blocks = file_bytes / kBlock;
  std::size_t console_done = 0;
  std::size_t file_done = 0;
  bool ok = true;
  while (ok && (console_done < console_blocks || file_done < file_blocks)) {
    // The stream that is further behind its share goes next.
    const bool console_next =
        file_done == file_blocks ||
        (console_done < console_blocks && console_done * file_blocks <= file_done * console_blocks);
    if (console_next) {
      ok = write_all(STDOUT_FILENO, block, kBlock);
      ++console_done;
    } else {
      ok = write_all(file, block, kBlock);
      ++file_done;
    }
  }
  ok = ok && write_all(file, block, file_bytes % kBlock);
  ok = ok && close(file) == 0;
  ok = ok && write_all(STDOUT_FILENO, block, console_bytes % kBlock);
  if (!ok) {
    std::perror("write");
    return 1;
  }
  return 0;
}
