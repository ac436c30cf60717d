#include "runtime/draft_file.hpp"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace blocklevels::runtime {
namespace {

// Written with every signal held back, read by the handlers: the path, and
// whether it holds one.
char draft[4097];
volatile sig_atomic_t held = 0;

// Runs `change` with every signal held back.
template <typename Change>
void with_signals_held(Change change) {
  sigset_t all, before;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, &before);
  change();
  std::atomic_signal_fence(std::memory_order_seq_cst);
  sigprocmask(SIG_SETMASK, &before, nullptr);
}

}  // namespace

void hold_draft_file(const std::string& path) {
  if (path.size() >= sizeof draft) return;
  with_signals_held([&] {
    std::memcpy(draft, path.c_str(), path.size() + 1);
    held = 1;
  });
}

void release_draft_file() {
  with_signals_held([] { held = 0; });
}

void remove_draft_file() noexcept {
  if (held == 0) return;
  held = 0;
  ::unlink(draft);
}

void forget_draft_file() noexcept {
  held = 0;
}

}  // namespace blocklevels::runtime
