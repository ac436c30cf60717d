// The script of a one-panel figure: curves (a search's crossings, or its
// quantity over the grid), over a heat map when there is one; the title
// above, the key beneath.
#pragma once

#include <string>

#include "figures/plot.hpp"

namespace blocklevels {

std::string curves_script(const PlotRequest& request);

}  // namespace blocklevels
