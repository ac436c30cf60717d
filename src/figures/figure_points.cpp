#include "figures/figure_points.hpp"

#include <cmath>

#include "parameters/quantity.hpp"

namespace blocklevels {
namespace {

// Each pick's fraction of a tail vector (NaN where the point has no such
// level).
void push_levels(std::vector<std::vector<double>>& to, const std::vector<LevelPick>& picks,
                 std::span<const double> tail) {
  to.resize(picks.size());
  const auto blocks = static_cast<std::int32_t>(tail.size());
  for (std::size_t p = 0; p < picks.size(); ++p) {
    const std::optional<std::int32_t> level = level_of(picks[p], blocks);
    to[p].push_back(level ? tail[static_cast<std::size_t>(*level - 1)] : std::nan(""));
  }
}

}  // namespace

FigureCollector::FigureCollector(const Study& study)
    : searched_(study.find ? study.find->parameter : nullptr),
      picks_(read_plot_levels("--plot-levels",
                              study.plot_levels.empty() ? kDefaultLevels : study.plot_levels)) {}

void FigureCollector::begin_point(const Point& point, std::size_t) {
  points_.emplace_back();
  points_.back().point = point;
  points_.back().series.blocks = point.p.blocks;
}

void FigureCollector::take(const Result& result) {
  PointFigure& f = points_.back();
  PlotSeries& s = f.series;
  const ResultValue& v = result.value;
  if (const auto* m = std::get_if<ModelReport>(&v)) {
    s.t.push_back(static_cast<double>(m->t));
    s.mean_level.push_back(sum_in_level_order(m->tail));
    push_levels(s.fraction, picks_, m->tail);
    f.last_tail = m->tail;
  } else if (const auto* r = std::get_if<SimulationReport>(&v)) {
    // A search's simulated crossings are not series over the generations.
    if (searched_ != nullptr) return;
    std::vector<double> means, half_widths;
    for (const simulation::Estimate& e : r->fractions) {
      means.push_back(e.mean);
      half_widths.push_back(e.half_width);
    }
    s.simulated_t.push_back(static_cast<double>(r->t));
    s.simulated_mean_level.push_back(r->level.mean);
    s.simulated_mean_level_ci.push_back(r->level.half_width);
    push_levels(s.simulated_fraction, picks_, means);
    push_levels(s.simulated_fraction_ci, picks_, half_widths);
  } else if (const auto* t = std::get_if<Threshold>(&v)) {
    if (!t->found) {
      f.not_found = true;
      return;
    }
    f.crossings.push_back(static_cast<double>(parameter_value(result.point.p, *searched_)));
    f.directions.push_back(t->direction);
  } else if (const auto* g = std::get_if<ThresholdGrid>(&v)) {
    f.grid_values = g->values;
    f.grid_quantity = g->quantity;
  } else if (std::holds_alternative<Stopped>(v)) {
    f.stopped = true;
  }
}

}  // namespace blocklevels
