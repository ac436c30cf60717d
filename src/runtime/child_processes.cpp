#include "runtime/child_processes.hpp"

#include <signal.h>

#include <atomic>

namespace blocklevels::runtime {
namespace {
// A slot holds a pid or 0; written outside signal handlers, read inside.
volatile sig_atomic_t children[kMaxChildProcesses] = {};
}  // namespace

void add_child_process(pid_t pid) {
  for (auto& slot : children) {
    if (slot == 0) {
      slot = pid;
      std::atomic_signal_fence(std::memory_order_seq_cst);
      return;
    }
  }
}

void remove_child_process(pid_t pid) {
  for (auto& slot : children) {
    if (slot == pid) slot = 0;
  }
}

void forget_child_processes() {
  for (auto& slot : children) slot = 0;
}

void end_child_processes() noexcept {
  for (const auto& slot : children) {
    if (slot != 0) ::kill(static_cast<pid_t>(slot), SIGTERM);
  }
}

}  // namespace blocklevels::runtime
