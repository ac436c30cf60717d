// Zero-filled allocation that stops the run (error 203) when the system
// cannot supply the block.
#pragma once

#include <cstddef>

namespace blocklevels::runtime {

// A block of `count` elements of `size` bytes, all bits zero; nullptr for
// `count` = 0. Never returns on failure. The block is never released.
void* allocate_zeroed(std::size_t count, std::size_t size);

}  // namespace blocklevels::runtime
