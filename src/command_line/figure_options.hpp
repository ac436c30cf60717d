// The options of a figure, the same for a study (--plot) and for a table
// drawn later (blocklevels plot): --plot-x, --plot-logy, --plot-size and
// --plot-map.
#pragma once

#include <optional>
#include <string>

#include "errors/failure.hpp"

#include "study/study.hpp"

namespace CLI {
class App;
}

namespace blocklevels {

// Nothing when `name` ends in .png, .svg or .pdf, the figures gnuplot
// draws here; else why it cannot be a figure's name.
std::optional<Failure> figure_name_refusal(const std::string& name);

// Adds the options to `app`; --plot-size's text goes to `size`.
void add_figure_options(CLI::App& app, Study& study, std::string& size);

// Checks them against the study's figure and swept parameters (known once
// its points are), and reads the size. Throws Failure (status 2).
void check_figure_options(Study& study, const std::string& size);

}  // namespace blocklevels
