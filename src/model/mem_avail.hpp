// How much memory the containers may still allocate.
#pragma once

#include <cstdint>

namespace blocklevels {

// Always the largest 32-bit signed value: the containers' shortage test can
// only fail for a request that exceeds it, and their requests are computed
// in 32-bit arithmetic, so in practice it never fails. An allocation the
// system cannot satisfy stops the run instead (error 203).
std::int32_t mem_avail();

}  // namespace blocklevels
