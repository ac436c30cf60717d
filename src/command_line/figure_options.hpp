// The options of a figure, the same for a study (--plot) and for a table
// drawn later (blocklevels plot): what the figure shows (--plot-x,
// --plot-levels, --plot-map, --plot-logy), its words (--plot-title,
// --plot-xlabel, --plot-ylabel) and its size and fonts (--plot-size,
// --plot-font-scale).
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

// The options' texts that are read once the study is known.
struct FigureOptionTexts {
  std::string size;
  std::string font_scale;
};

// Adds the options to `app`, into the study's fields and `texts`.
void add_figure_options(CLI::App& app, Study& study, FigureOptionTexts& texts);

// What can be checked before the study's points are known: each option
// given only with a figure to draw, the levels' and the size's syntax.
// Throws Failure (status 2).
void check_figure_syntax(Study& study, const FigureOptionTexts& texts);

// Checks the options against the study's points and swept parameters.
// Throws Failure (status 2).
void check_figure_options(const Study& study);

}  // namespace blocklevels
