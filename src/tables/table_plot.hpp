// A table written before (by a study, or merged from its shards), drawn
// from its results alone: the same figure as the study that wrote it
// draws, without computing again (a search's without its grid, which the
// table does not hold).
#pragma once

#include <optional>
#include <string>

#include "figures/figure_points.hpp"
#include "study/study.hpp"

namespace blocklevels {

// What a table's figure draws: its points (in a Study, with the parameters
// that vary, the search and the simulation's runs its rows name) and what
// their results say.
struct TableFigure {
  Study study;
  std::optional<FigureCollector> collected;
};

// Reads the table; `options` holds the figure's file and options, copied
// into the study. Throws Failure (status 2) for a shard's table or one
// that holds no rows.
TableFigure read_table_figure(const std::string& table_name, const Study& options);

// Draws it into study.plot. Throws Failure: status 1 when gnuplot is
// missing or fails, 2 when there is nothing to draw.
void draw_table_figure(const TableFigure& figure, const std::string& table_name);

}  // namespace blocklevels
