#include "results/point_result.hpp"

namespace blocklevels {

std::string_view direction_name(Direction direction) {
  return direction == Direction::falling ? "falling" : "rising";
}

}  // namespace blocklevels
