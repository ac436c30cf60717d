// Descriptors the program opens stay above the standard ones: when a caller
// has closed standard input, output or error, no file or pipe may take its
// number, or console lines would land in a table and a figure's script be
// lost.
#pragma once

#include <cstddef>

namespace blocklevels::runtime {

// fd itself when it is above 2 (or negative: a failed open); otherwise a
// duplicate above 2, close-on-exec, and fd closed. -1 when no duplicate
// can be made (errno says why).
int above_standard(int fd) noexcept;

// Raises the soft limit of open descriptors to the hard one, and returns
// the limit then in force.
std::size_t raise_descriptor_limit() noexcept;

}  // namespace blocklevels::runtime
