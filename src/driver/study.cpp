#include "driver/study.hpp"

namespace blocklevels {

std::string parameter_text(const StudyPoint& point, std::string_view name) {
  const RunParameters& p = point.p;
  if (name == "pmut") return point.pmut_text;
  const std::int32_t integers[] = {p.lambda,
                                   p.mu,
                                   0,
                                   p.block_length,
                                   p.two_option_positions,
                                   p.blocks,
                                   p.final_iteration,
                                   p.step_generations};
  for (std::size_t n = 0; n < std::size(kParameterNames); ++n) {
    if (name == kParameterNames[n]) return std::to_string(integers[n]);
  }
  return "";
}

}  // namespace blocklevels
