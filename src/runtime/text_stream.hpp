// Buffered text streams on file descriptors. An output stream writes whole
// buffers (128 bytes unless opened with another capacity), and after a write
// statement it is flushed only when it is an interactive character device;
// the rest goes out when it is closed. The input stream reads 128 bytes at a
// time and reads the byte 0x1A as end of input.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

namespace blocklevels::runtime {

inline constexpr std::size_t kStreamBufferSize = 128;

enum class LineEnd { lf, crlf };

class OutputStream {
 public:
  // Attaches the stream to an open descriptor; `owns_descriptor` makes
  // close() close it (a file does, standard output never does).
  void open(int fd, LineEnd line_end, bool owns_descriptor,
            std::size_t capacity = kStreamBufferSize);
  bool is_open() const { return fd_ >= 0; }

  // Puts bytes into the buffer; a full buffer is written out at once.
  // After a failure nothing more is written until the result is tested.
  void put(std::string_view bytes) {
    // The common case: the bytes fit and the buffer does not fill up.
    const std::size_t used = used_;
    if (bytes.size() < capacity_ - used && result_ == 0) {
      std::memcpy(buffer_ + used, bytes.data(), bytes.size());
      std::atomic_signal_fence(std::memory_order_seq_cst);
      used_ = used + bytes.size();
      return;
    }
    put_and_write_blocks(bytes);
  }
  std::string_view line_end() const { return line_end_ == LineEnd::crlf ? "\r\n" : "\n"; }
  // Ends a write statement: an interactive stream is flushed.
  void end_statement() {
    if (interactive_ && used_ > 0 && result_ == 0) write_out();
  }
  // Writes out the buffer now, whatever the stream is.
  void flush() {
    if (used_ > 0 && result_ == 0) write_out();
  }
  // Writes the rest of the buffer and, when owned, closes the descriptor.
  void close();
  // Forgets the descriptor and the buffered bytes without writing them: in
  // a new child process, whose parent still owns them.
  void detach() {
    fd_ = -1;
    used_ = 0;
    spilled_ = 0;
  }

  // 0, or the stop number of the first failure on this stream.
  int result() const { return result_; }
  // 0, or the system's error code (errno) of that failure.
  int failure_code() const { return failure_code_; }

  // Writes out whatever the buffer holds, ignoring failures. Used by the stop
  // path and the interrupt handlers; async-signal-safe.
  void flush_for_stop() noexcept;

 private:
  void put_and_write_blocks(std::string_view bytes);
  // False when a held-back interrupt cut the write short (the reader stalls).
  bool write_out();

  int fd_ = -1;
  bool owns_descriptor_ = false;
  bool interactive_ = false;
  LineEnd line_end_ = LineEnd::lf;
  int result_ = 0;
  int failure_code_ = 0;
  std::size_t capacity_ = 0;
  // `used_` is published only after the bytes it covers are in the buffer, so
  // a signal handler that flushes the stream never sees unwritten bytes.
  volatile std::size_t used_ = 0;
  char* buffer_ = nullptr;
  std::unique_ptr<char[]> storage_;
  // The rest of a statement whose write a held-back interrupt cut short,
  // for the stop path to write after the buffer; `spilled_` is published
  // once the bytes are there.
  std::string spill_;
  volatile std::size_t spilled_ = 0;
};

class InputStream {
 public:
  static constexpr int kEnd = -1;

  void open(int fd);

  // The next byte (0..255) without consuming it, or kEnd at end of input
  // (also before a 0x1A byte, which stays unread).
  int peek();
  // Consumes the byte that peek() returned; nothing at end of input.
  void advance();
  // Consumes a 0x1A end-of-input byte if it is the next byte.
  void consume_end_marker();

  int result() const { return result_; }
  void record_result(int stop_number) {
    if (result_ == 0) result_ = stop_number;
  }

 private:
  bool fill();

  int fd_ = -1;
  bool at_end_ = false;
  int result_ = 0;
  std::size_t next_ = 0;
  std::size_t filled_ = 0;
  unsigned char buffer_[kStreamBufferSize] = {};
};

}  // namespace blocklevels::runtime
