#include "errors/failure.hpp"

namespace blocklevels {

const char* Failure::what() const noexcept {
  return message_.c_str();
}

}  // namespace blocklevels
