#include "arithmetic/stop.hpp"

#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

const char* Stop::what() const noexcept {
  // Every meaning is a literal, so its view ends in a NUL.
  return stop_meaning(number_).data();
}

void throw_stop(int number) {
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  throw Stop(number, caller - 1);
}

}  // namespace blocklevels
