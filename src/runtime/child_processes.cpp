#include "runtime/child_processes.hpp"

#include <signal.h>
#include <sys/prctl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "arithmetic/stop.hpp"
#include "runtime/deferred_interrupts.hpp"
#include "runtime/draft_file.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"

namespace blocklevels::runtime {
namespace {
// A slot holds a pid or 0; written with signals held back, read inside the
// handlers.
volatile sig_atomic_t children[kMaxChildProcesses] = {};
}  // namespace

pid_t start_child_process() {
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  const pid_t parent = ::getpid();
  const pid_t pid = ::fork();
  if (pid < 0) {
    const int error = errno;
    sigprocmask(SIG_SETMASK, &before, nullptr);
    throw_stop(os_error_number(error));
  }
  if (pid == 0) {
    detach_run_streams();
    for (auto& slot : children) slot = 0;
    forget_draft_file();
    act_on_interrupts_at_once();
    // The child ends with its parent, however the parent ends.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent) ::_exit(128 + SIGTERM);
  } else {
    for (auto& slot : children) {
      if (slot == 0) {
        slot = pid;
        break;
      }
    }
  }
  std::atomic_signal_fence(std::memory_order_seq_cst);
  sigprocmask(SIG_SETMASK, &before, nullptr);
  return pid;
}

void remove_child_process(pid_t pid) {
  for (auto& slot : children) {
    if (slot == pid) slot = 0;
  }
}

void end_child_processes() noexcept {
  for (const auto& slot : children) {
    if (slot != 0) ::kill(static_cast<pid_t>(slot), SIGTERM);
  }
}

}  // namespace blocklevels::runtime
