#include "figures/figure_points.hpp"

#include <algorithm>
#include <cmath>

#include "figures/study_figure.hpp"
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

void pop_model(PlotSeries& s) {
  s.t.pop_back();
  s.mean_level.pop_back();
  for (std::vector<double>& v : s.fraction) v.pop_back();
}

void pop_simulated(PlotSeries& s) {
  for (auto* v : {&s.simulated_t, &s.simulated_mean_level, &s.simulated_mean_level_ci}) {
    v->pop_back();
  }
  for (auto* levels : {&s.simulated_fraction, &s.simulated_fraction_ci}) {
    for (std::vector<double>& v : *levels) v.pop_back();
  }
}

void keep_last(std::vector<double>& v) {
  if (v.size() > 1) v.erase(v.begin(), v.end() - 1);
}

void keep_last(PlotSeries& s) {
  for (auto* v :
       {&s.t, &s.mean_level, &s.simulated_t, &s.simulated_mean_level, &s.simulated_mean_level_ci}) {
    keep_last(*v);
  }
  for (auto* levels : {&s.fraction, &s.simulated_fraction, &s.simulated_fraction_ci}) {
    for (std::vector<double>& v : *levels) keep_last(v);
  }
}

}  // namespace

FigureCollector::FigureCollector(const Study& study)
    : searched_(study.find ? study.find->parameter : nullptr),
      picks_(read_plot_levels("--plot-levels",
                              study.plot_levels.empty() ? kDefaultLevels : study.plot_levels)),
      final_values_only_(study.find || !study.plot_map.empty() || !study.plot_x.empty()) {}

void FigureCollector::begin_point(const Point& point, std::size_t) {
  points_.emplace_back();
  PointFigure& f = points_.back();
  f.point = point;
  f.series.blocks = point.p.blocks;
  const std::int64_t reports = report_count(point.p);
  f.stride = final_values_only_ ? 0 : (reports + kMostReportsDrawn - 1) / kMostReportsDrawn;
}

// Called before a report at generation t goes into a series: says whether
// the series' last entry gives way to it, and whether it will itself.
bool FigureCollector::make_room(std::int64_t t, bool& pending) {
  PointFigure& f = points_.back();
  if (f.series.t.empty() && f.series.simulated_t.empty() && ++with_reports_ > kMostCurves &&
      !final_values_only_) {
    keep_latest_only();
  }
  const bool drop = pending;
  const std::int64_t report = t / f.point.p.step_generations - 1;
  pending = f.stride == 0 || report % f.stride != 0;
  return drop;
}

// More points than curves over the generations: the figure shows each
// point's latest values, and nothing else is kept. Called at the current
// point's first report, so that only ended points lose entries.
void FigureCollector::keep_latest_only() {
  final_values_only_ = true;
  for (PointFigure& f : points_) {
    keep_last(f.series);
    f.stride = 0;
  }
}

std::string FigureCollector::thinning_note() const {
  if (final_values_only_) return "";
  const PointFigure* most = nullptr;
  for (const PointFigure& f : points_) {
    if (f.stride > 1 && (most == nullptr || f.stride > most->stride)) most = &f;
  }
  if (most == nullptr) return "";
  return "--plot: the curves draw one report in " + std::to_string(most->stride) + " of " +
         std::to_string(report_count(most->point.p)) + ", and the last";
}

void FigureCollector::take(const Result& result) {
  PointFigure& f = points_.back();
  PlotSeries& s = f.series;
  const ResultValue& v = result.value;
  if (const auto* m = std::get_if<ModelReport>(&v)) {
    if (make_room(m->t, f.model_pending)) pop_model(s);
    s.t.push_back(static_cast<double>(m->t));
    s.mean_level.push_back(sum_in_level_order(m->tail));
    push_levels(s.fraction, picks_, m->tail);
    f.last_tail = m->tail;
  } else if (const auto* r = std::get_if<SimulationReport>(&v)) {
    // A search's simulated crossings are not series over the generations.
    if (searched_ != nullptr) return;
    if (make_room(r->t, f.simulated_pending)) pop_simulated(s);
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
  } else if (const auto* st = std::get_if<SimulatedThreshold>(&v)) {
    if (!st->found) return;
    f.simulated_crossings.push_back(
        static_cast<double>(parameter_value(result.point.p, *searched_)));
    f.simulated_lower.push_back(static_cast<double>(st->lower));
    f.simulated_upper.push_back(static_cast<double>(st->upper));
    f.simulated_directions.push_back(st->direction);
  } else if (const auto* g = std::get_if<ThresholdGrid>(&v)) {
    f.grid_values = g->values;
    f.grid_quantity = g->quantity;
  } else if (std::holds_alternative<Stopped>(v)) {
    f.stopped = true;
  }
}

}  // namespace blocklevels
