#include "figures/figure_points.hpp"

#include "parameters/quantity.hpp"

namespace blocklevels {
namespace {

// X_l, X_(l-1), X_(l-2) of a tail vector (0 below level 1).
void push_top(std::vector<double> (&to)[3], std::span<const double> tail) {
  const auto l = static_cast<std::int32_t>(tail.size());
  for (std::int32_t n = 0; n < 3; ++n) {
    to[n].push_back(n < l ? tail[static_cast<std::size_t>(l - n - 1)] : 0.0);
  }
}

}  // namespace

void FigureCollector::begin_point(const Point& point, std::size_t) {
  points_.emplace_back();
  points_.back().point = point;
}

void FigureCollector::take(const Result& result) {
  PointFigure& f = points_.back();
  PlotSeries& s = f.series;
  const ResultValue& v = result.value;
  if (const auto* m = std::get_if<ModelReport>(&v)) {
    s.t.push_back(static_cast<double>(m->t));
    s.mean_level.push_back(sum_in_level_order(m->tail));
    push_top(s.top, m->tail);
    f.last_tail = m->tail;
  } else if (const auto* r = std::get_if<SimulationReport>(&v)) {
    // A search's simulated crossings are not series over the generations.
    if (!f.crossings.empty()) return;
    std::vector<double> means, half_widths;
    for (const simulation::Estimate& e : r->fractions) {
      means.push_back(e.mean);
      half_widths.push_back(e.half_width);
    }
    s.simulated_t.push_back(static_cast<double>(r->t));
    s.simulated_mean_level.push_back(r->level.mean);
    s.simulated_mean_level_ci.push_back(r->level.half_width);
    push_top(s.simulated_top, means);
    push_top(s.simulated_top_ci, half_widths);
  } else if (const auto* t = std::get_if<Threshold>(&v)) {
    if (!t->found) return;
    f.crossings.push_back(static_cast<double>(parameter_value(result.point.p, *searched_)));
    f.directions.push_back(t->direction);
  } else if (const auto* g = std::get_if<ThresholdGrid>(&v)) {
    f.grid_values = g->values;
    f.grid_quantity = g->quantity;
  }
}

}  // namespace blocklevels
