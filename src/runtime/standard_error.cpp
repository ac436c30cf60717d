#include "runtime/standard_error.hpp"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace blocklevels::runtime {

void write_standard_error(std::string_view bytes) noexcept {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(STDERR_FILENO, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

void say(std::string_view message) {
  std::string line = "blocklevels: ";
  line += message;
  line += '\n';
  write_standard_error(line);
}

}  // namespace blocklevels::runtime
