// A table written before (by a study, or merged from its shards), drawn
// from its results alone: the same figure as the study that wrote it
// draws, without computing again.
#pragma once

#include <string>

#include "figures/figure_points.hpp"
#include "study/study.hpp"

namespace blocklevels {

// What a table's figure draws: its points (in a Study, with the parameters
// that vary) and what their results say. Throws Failure (status 2) for a
// shard's table or one that holds no rows.
struct TableFigure {
  Study study;
  FigureCollector collected;
};
TableFigure read_table_figure(const std::string& table_name);

// Draws it into study.plot (the figure's options set in `figure.study`).
// Throws Failure: status 1 when gnuplot is missing or fails, 2 when there
// is nothing to draw.
void draw_table_figure(const TableFigure& figure, const std::string& table_name);

}  // namespace blocklevels
