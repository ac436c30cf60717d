#include "runtime/deferred_interrupts.hpp"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>

#include "arithmetic/stop.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/os_error.hpp"

namespace blocklevels::runtime {
namespace {

volatile sig_atomic_t deferring = 0;
volatile sig_atomic_t pending = 0;
int wake_write = -1;

}  // namespace

int defer_interrupts() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) throw_stop(os_error_number(errno));
  const int read_end = runtime::above_standard(ends[0]);
  wake_write = runtime::above_standard(ends[1]);
  if (read_end < 0 || wake_write < 0) throw_stop(os_error_number(errno));
  deferring = 1;
  return read_end;
}

int pending_interrupt() noexcept {
  return pending;
}

void act_on_interrupts_at_once() noexcept {
  deferring = 0;
  pending = 0;
  if (wake_write >= 0) ::close(wake_write);
  wake_write = -1;
}

bool defer_interrupt(int signal) noexcept {
  if (deferring == 0 || pending != 0) return false;
  pending = signal;
  const char byte = 1;
  const int saved = errno;
  if (::write(wake_write, &byte, 1) < 0) {
    // The pipe is full only if woken already.
  }
  errno = saved;
  return true;
}

}  // namespace blocklevels::runtime
