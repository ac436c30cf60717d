// The script of a figure of levels: panels sharing their x axis, from the
// top: the fractions at or above the levels drawn, the mean level, and for
// a single simulated point the model check (simulation minus model, with
// the simulation's 95 % intervals); one key beneath them, the title above.
#pragma once

#include <string>

#include "figures/plot.hpp"

namespace blocklevels {

std::string levels_script(const PlotRequest& request);

}  // namespace blocklevels
