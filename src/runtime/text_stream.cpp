#include "runtime/text_stream.hpp"

#include <poll.h>
#include <unistd.h>

#include <cerrno>

#include "runtime/io_section.hpp"
#include "runtime/os_error.hpp"

namespace blocklevels::runtime {
namespace {

constexpr unsigned char kEndOfInputByte = 0x1A;

// Writes bytes to fd, retrying after interruptions, until all are written,
// the descriptor fails (its errno goes to `failure`; a write of 0 bytes
// counts as a full device), or an interruption comes while `section` holds
// back an interrupt. Returns how many bytes were written. Async-signal-safe.
std::size_t write_all(int fd, const char* bytes, std::size_t size, int& failure,
                      const IoSection* section) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      if (section != nullptr && section->interrupt_pending()) break;
    } else {
      failure = n < 0 ? errno : ENOSPC;
      break;
    }
  }
  return done;
}

}  // namespace

void OutputStream::open(int fd, LineEnd line_end, bool owns_descriptor, std::size_t capacity) {
  if (capacity != capacity_) {
    storage_ = std::make_unique<char[]>(capacity);
    buffer_ = storage_.get();
    capacity_ = capacity;
  }
  line_end_ = line_end;
  owns_descriptor_ = owns_descriptor;
  interactive_ = ::isatty(fd) == 1;
  result_ = 0;
  failure_code_ = 0;
  used_ = 0;
  spilled_ = 0;
  fd_ = fd;
}

void OutputStream::put_and_write_blocks(std::string_view bytes) {
  const char* from = bytes.data();
  std::size_t left = bytes.size();
  while (left > 0 && result_ == 0) {
    const std::size_t used = used_;
    const std::size_t take = left < capacity_ - used ? left : capacity_ - used;
    std::memcpy(buffer_ + used, from, take);
    std::atomic_signal_fence(std::memory_order_seq_cst);
    used_ = used + take;
    from += take;
    left -= take;
    // A write cut short by a held-back interrupt is not tried again: the
    // reader has stalled, and the interrupt is acted on when its section
    // ends. The rest of this statement waits beside the buffer, so that the
    // stop path writes the statement whole and the output ends with a whole
    // line.
    if (used_ == capacity_ && !write_out()) {
      spill_.assign(from, left);
      std::atomic_signal_fence(std::memory_order_seq_cst);
      spilled_ = spill_.size();
      return;
    }
  }
}

void OutputStream::close() {
  if (used_ > 0 && result_ == 0) write_out();
  if (owns_descriptor_ && fd_ >= 0 && result_ == 0) {
    if (::close(fd_) != 0) {
      failure_code_ = errno;
      result_ = os_error_number(errno);
    }
  }
  if (result_ == 0) fd_ = -1;
}

bool OutputStream::write_out() {
  IoSection section;
  const std::size_t used = used_;
  int failure = 0;
  const std::size_t done = write_all(fd_, buffer_, used, failure, &section);
  if (failure != 0) {
    failure_code_ = failure;
    result_ = os_error_number(failure);
  }
  // Keep what was not written, so that a stop can still try to write it.
  if (done < used) std::memmove(buffer_, buffer_ + done, used - done);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  used_ = used - done;
  return failure != 0 || done == used;
}

void OutputStream::flush_for_stop() noexcept {
  if (fd_ < 0) return;
  int ignored = 0;
  const std::size_t used = used_;
  if (write_all(fd_, buffer_, used, ignored, nullptr) == used && spilled_ > 0) {
    write_all(fd_, spill_.data(), spilled_, ignored, nullptr);
  }
  used_ = 0;
  spilled_ = 0;
}

void InputStream::open(int fd) {
  fd_ = fd;
  at_end_ = false;
  result_ = 0;
  next_ = filled_ = 0;
}

bool InputStream::fill() {
  while (!at_end_) {
    const ssize_t n = ::read(fd_, buffer_, kStreamBufferSize);
    if (n > 0) {
      next_ = 0;
      filled_ = static_cast<std::size_t>(n);
      return true;
    }
    if (n == 0) {
      at_end_ = true;
    } else if (errno == EINTR) {
      continue;
    } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
      // A non-blocking descriptor inherited from the caller: wait for input.
      pollfd waiting{fd_, POLLIN, 0};
      ::poll(&waiting, 1, -1);
    } else if (errno == EPIPE || errno == ECONNRESET || errno == EIO) {
      // A broken input (a vanished writer, a hung-up terminal) ends the input.
      at_end_ = true;
    } else {
      record_result(os_error_number(errno));
      at_end_ = true;
    }
  }
  return false;
}

int InputStream::peek() {
  if (next_ == filled_ && !fill()) return kEnd;
  const int byte = buffer_[next_];
  return byte == kEndOfInputByte ? kEnd : byte;
}

void InputStream::advance() {
  if (peek() != kEnd) ++next_;
}

void InputStream::consume_end_marker() {
  if ((next_ < filled_ || fill()) && buffer_[next_] == kEndOfInputByte) ++next_;
}

}  // namespace blocklevels::runtime
