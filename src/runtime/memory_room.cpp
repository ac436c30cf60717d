#include "runtime/memory_room.hpp"

#include "runtime/available_memory.hpp"

namespace blocklevels::runtime {

MemoryRoom memory_room() {
  const AvailableMemory available = available_memory();
  return {available.bytes, limit_in_words(available.limit)};
}

}  // namespace blocklevels::runtime
