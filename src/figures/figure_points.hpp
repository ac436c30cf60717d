// What a study's figure draws of each point, kept from the point's results
// as they pass (computed, or read back from a table written before: the
// same results give the same figure): its series over the generations
// (the levels the figure draws), a search's crossings and grid, whether
// it stopped or found nothing, the values at the final report.
//
// Memory does not grow with the reports: a curve over the generations
// keeps at most about kMostReportsDrawn of its reports (every stride-th
// and its latest), and once the figure can only show final values (more
// than kMostCurves points with reports, --plot-x, a search or a map) each
// point keeps its latest report alone.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "figures/plot.hpp"
#include "figures/plot_levels.hpp"
#include "results/point_result.hpp"
#include "study/study.hpp"

namespace blocklevels {

inline constexpr std::int64_t kMostReportsDrawn = 2000;

struct PointFigure {
  Point point;
  PlotSeries series;  // unlabelled; a fraction per level pick
  // The series keeps reports 0, stride, 2 stride, ... (0-based) and its
  // latest one; stride 0 keeps the latest alone. A series' last entry is
  // `pending` when it is there only as the latest.
  std::int64_t stride = 1;
  bool model_pending = false, simulated_pending = false;
  // A search's crossings, each with its direction, and its grid (only from
  // the computation: a table does not hold it).
  std::vector<double> crossings;
  std::vector<Direction> directions;
  std::vector<long double> grid_values;
  std::vector<double> grid_quantity;
  // The simulated search's answers: estimates, directions, intervals.
  std::vector<double> simulated_crossings, simulated_lower, simulated_upper;
  std::vector<Direction> simulated_directions;
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
  // What the figure leaves out of a curve over the generations, in words
  // ("" when it draws every report).
  std::string thinning_note() const;

 private:
  // Whether the latest report of the current point goes after the series'
  // entries or in place of a pending one; marks it pending.
  bool make_room(std::int64_t t, bool& pending);
  void keep_latest_only();

  const ParameterDescription* searched_;
  std::vector<LevelPick> picks_;
  std::vector<PointFigure> points_;
  bool final_values_only_;  // the figure cannot draw curves over the generations
  std::size_t with_reports_ = 0;
};

}  // namespace blocklevels
