// The child processes a run has started (a sweep's points): the stop path
// and the interrupt handlers end them before the process ends.
#pragma once

#include <sys/types.h>

namespace blocklevels::runtime {

// Records a started child; at most kMaxChildProcesses at a time.
inline constexpr int kMaxChildProcesses = 256;
void add_child_process(pid_t pid);
// Forgets a child that has been waited for.
void remove_child_process(pid_t pid);
// In a new child: forgets the parent's children, which are its siblings.
void forget_child_processes();
// Sends SIGTERM to every recorded child. Async-signal-safe.
void end_child_processes() noexcept;

}  // namespace blocklevels::runtime
