// The memory this process may still take before the system refuses it or
// ends it: the smallest of the system's available memory (MemAvailable),
// the headroom of its memory cgroup (v2 or v1, at the usual mount points:
// the limit less the usage) and of its address-space limit (RLIMIT_AS less
// VmSize). A figure that cannot be read is left out.
//
// The interface the study's memory check is written against; a fuller
// query (every cgroup above, reclaimable pages) can take its place behind
// the same function.
#pragma once

#include <cstdint>
#include <string_view>

namespace blocklevels::runtime {

struct MemoryRoom {
  std::uint64_t bytes = ~std::uint64_t{0};  // all ones when nothing limits it
  std::string_view limit = "no limit";      // what gave `bytes`, in words
};

MemoryRoom memory_room();

}  // namespace blocklevels::runtime
