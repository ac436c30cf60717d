#include "runtime/code_place.hpp"

#include <link.h>

namespace blocklevels::runtime {
namespace {

std::uintptr_t load_bias = 0;

int take_first_object(struct dl_phdr_info* info, std::size_t, void*) {
  // The first object reported is the executable itself.
  load_bias = static_cast<std::uintptr_t>(info->dlpi_addr);
  return 1;
}

}  // namespace

void record_load_address() {
  dl_iterate_phdr(take_first_object, nullptr);
}

std::uint32_t code_offset(std::uintptr_t address) {
  // 0 stands for no place (a signal sent by another process).
  if (address == 0) return 0;
  return static_cast<std::uint32_t>(address - load_bias);
}

}  // namespace blocklevels::runtime
