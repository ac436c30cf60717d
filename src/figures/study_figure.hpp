// What a study's figure shows. Up to kMostCurves points: one curve per point
// over the generations. More: the final values against the swept parameter
// with the most values, one curve per combination of the others (but
// those that follow it: zipped with it, or mu given as a ratio of it). A
// search (--find) and a heat map (--plot-map) draw its answers instead.
#pragma once

#include <optional>
#include <vector>

#include "figures/figure_points.hpp"
#include "figures/plot.hpp"
#include "study/study.hpp"

namespace blocklevels {

inline constexpr std::size_t kMostCurves = 6;

struct PointSeries {
  const Point* point;
  PlotSeries series;  // over the generations, unlabelled
};

PlotRequest study_figure(const Study& study, std::vector<PointSeries> points);

// What a point answered: its crossings of the searched parameter and the
// search's grid, or the --plot-map quantity at its final report.
struct PointAnswer {
  const Point* point;
  std::vector<double> crossings;
  std::vector<Direction> directions;  // per crossing
  std::vector<long double> grid_values;
  std::vector<double> grid_quantity;
  std::optional<double> final_quantity;
  bool not_found = false, stopped = false;
  // The simulated search's estimates, with their intervals and directions.
  std::vector<double> simulated, simulated_lower, simulated_upper;
  std::vector<Direction> simulated_directions;
};

// A single search: the quantity over the searched parameter's grid (when
// it was kept), its crossings and the value sought. A swept search: the
// crossings against the swept parameter with the most values, a curve per
// other values and per direction, a mark where a point found none or
// stopped. A heat map: the quantity over the two parameters that vary (a
// search's over its grid), the crossings on it.
PlotRequest answer_figure(const Study& study, const std::vector<PointAnswer>& points);

// The figure of a study's points from what their results said; nothing
// when there is nothing to draw.
std::optional<PlotRequest> figure_request(const Study& study,
                                          const std::vector<PointFigure>& points);

}  // namespace blocklevels
