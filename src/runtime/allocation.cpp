#include "runtime/allocation.hpp"

#include <cstdlib>

#include "runtime/stop_report.hpp"

namespace blocklevels::runtime {

void* allocate_zeroed(std::size_t count, std::size_t size) {
  if (count == 0 || size == 0) return nullptr;
  // calloc checks count * size for overflow, and fresh pages need no writing.
  void* block = std::calloc(count, size);
  if (block == nullptr) stop_run(203);
  return block;
}

}  // namespace blocklevels::runtime
