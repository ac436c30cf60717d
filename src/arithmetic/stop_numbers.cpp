#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

std::string_view stop_meaning(int number) {
  for (const StopMeaning& m : kStopMeanings) {
    if (m.number == number) return m.meaning;
  }
  return "operating system error";
}

}  // namespace blocklevels
