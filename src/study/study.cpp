#include "study/study.hpp"

namespace blocklevels {

std::string Study::search_text() const {
  if (!find) return "";
  return std::string(find->parameter->name) + ":" + find_range;
}

}  // namespace blocklevels
