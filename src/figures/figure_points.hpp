// What a study's figure draws of each point, kept from the point's results
// as they pass (computed, or read back from a table written before: the
// same results give the same figure): its series over the generations
// (the levels the figure draws), a search's crossings and grid, whether
// it stopped or found nothing, the values at the final report.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "figures/plot.hpp"
#include "figures/plot_levels.hpp"
#include "results/point_result.hpp"
#include "study/study.hpp"

namespace blocklevels {

struct PointFigure {
  Point point;
  PlotSeries series;  // unlabelled; a fraction per level pick
  // A search's crossings, each with its direction, and its grid (only from
  // the computation: a table does not hold it).
  std::vector<double> crossings;
  std::vector<Direction> directions;
  std::vector<long double> grid_values;
  std::vector<double> grid_quantity;
  bool not_found = false;  // a search that found no crossing
  bool stopped = false;
  std::optional<std::vector<double>> last_tail;  // the model's at its last report
};

class FigureCollector final : public ResultSink {
 public:
  // The study's search (its parameter) and the levels its figure draws
  // (--plot-levels, already checked).
  explicit FigureCollector(const Study& study);

  void begin_point(const Point& point, std::size_t number) override;
  void take(const Result& result) override;
  const std::vector<PointFigure>& points() const { return points_; }

 private:
  const ParameterDescription* searched_;
  std::vector<LevelPick> picks_;
  std::vector<PointFigure> points_;
};

}  // namespace blocklevels
