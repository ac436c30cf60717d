// A file the process is writing in place of another until it is whole (a
// figure's draft, renamed to the figure once drawn). The stop path and the
// interrupt path remove it before the process ends, so that a process that
// ends half way leaves no draft behind; a child process forgets it.
#pragma once

#include <string>

namespace blocklevels::runtime {

// Records the draft (one at a time; a path longer than 4096 bytes is not
// recorded).
void hold_draft_file(const std::string& path);
// Forgets it: it was renamed or removed.
void release_draft_file();
// Removes the draft recorded, if any. Async-signal-safe.
void remove_draft_file() noexcept;
// In a new child process: forgets the parent's draft without removing it.
// Async-signal-safe.
void forget_draft_file() noexcept;

}  // namespace blocklevels::runtime
