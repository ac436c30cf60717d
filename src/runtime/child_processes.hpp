// The child processes a run starts (a sweep's points, gnuplot): the stop path
// and the interrupt handlers end them before the process ends.
#pragma once

#include <sys/types.h>

namespace blocklevels::runtime {

// At most this many children at a time.
inline constexpr int kMaxChildProcesses = 256;

// fork(), with every signal held back until both sides are consistent: the
// child has forgotten the parent's stream buffers and children (so that a
// signal ending it cannot write the parent's bytes or end its siblings), and
// the parent has recorded the child (so that an interrupt ends it too).
// Returns as fork() does; a failed fork throws Stop with its error number.
pid_t start_child_process();
// Forgets a child that has been waited for.
void remove_child_process(pid_t pid);
// Sends SIGTERM to every recorded child. Async-signal-safe.
void end_child_processes() noexcept;

}  // namespace blocklevels::runtime
