// The memory this process may still take before the system refuses it or
// ends it, as the study's memory check takes it: available_memory()
// (runtime/available_memory.hpp: MemAvailable, every memory cgroup above the
// process, the address-space and data-segment limits) with its limit in
// words.
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
