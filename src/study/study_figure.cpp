#include "study/study_figure.hpp"

#include <algorithm>
#include <cstdio>
#include <map>
#include <string>

#include "parameters/parameter_table.hpp"

namespace blocklevels {
namespace {

// A parameter's value for a label: a long real (a range's inner value)
// shortened to four digits.
std::string value_text(const Point& point, std::string_view name) {
  const ParameterDescription& d = *find_parameter(name);
  const std::string text = parameter_text(point, d);
  if (d.kind != ParameterKind::real || text.size() <= 8) return text;
  char shorter[32];
  std::snprintf(shorter, sizeof shorter, "%.4Lg", parameter_value(point.p, d));
  return shorter;
}

double value_number(const Point& point, const std::string& name) {
  return static_cast<double>(parameter_value(point.p, *find_parameter(name)));
}

std::string label_of(const Point& point, const std::vector<std::string>& names,
                     const std::string& except) {
  std::string label;
  for (const std::string& name : names) {
    if (name == except) continue;
    label += (label.empty() ? "" : ", ") + name + "=" + value_text(point, name);
  }
  return label;
}

// The parameters every point shares.
std::string title_of(const Study& study) {
  std::string title;
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.in_title) continue;
    bool swept = false;
    for (const std::string& s : study.swept) swept = swept || s == d.name;
    if (swept) continue;
    title += (title.empty() ? "" : ", ") + std::string(d.name) + "=" +
             value_text(study.points.front(), d.name);
  }
  return title;
}

void push_last(std::vector<double>& to, const std::vector<double>& from) {
  to.push_back(from.empty() ? 0.0 : from.back());
}

}  // namespace

PlotRequest study_figure(const Study& study, std::vector<PointSeries> points) {
  PlotRequest request;
  request.file = study.plot;
  request.title = title_of(study);
  if (points.size() <= kMostCurves) {
    for (PointSeries& p : points) {
      p.series.label = label_of(*p.point, study.swept, "");
      p.series.blocks = p.point->p.blocks;
      request.series.push_back(std::move(p.series));
    }
    return request;
  }
  // The parameter with the most distinct values goes along the x axis.
  std::string across;
  std::size_t most = 0;
  for (const std::string& name : study.swept) {
    std::map<std::string, int> distinct;
    for (const PointSeries& p : points) distinct[value_text(*p.point, name)] = 1;
    if (distinct.size() > most) {
      most = distinct.size();
      across = name;
    }
  }
  request.x_label = across + " (values at the last report)";
  std::map<std::string, std::size_t> curve_of;
  double lowest = value_number(*points.front().point, across), highest = lowest;
  for (const PointSeries& p : points) {
    const std::string label = label_of(*p.point, study.swept, across);
    auto [at, added] = curve_of.emplace(label, request.series.size());
    if (added) {
      request.series.emplace_back();
      request.series.back().label = label;
      request.series.back().blocks = p.point->p.blocks;
    }
    PlotSeries& curve = request.series[at->second];
    const double x = value_number(*p.point, across);
    lowest = std::min(lowest, x);
    highest = std::max(highest, x);
    const PlotSeries& s = p.series;
    curve.t.push_back(x);
    curve.blocks = std::min(curve.blocks, p.point->p.blocks);
    for (int level = 0; level < 3; ++level) push_last(curve.top[level], s.top[level]);
    push_last(curve.mean_level, s.mean_level);
    if (s.simulated_t.empty()) continue;
    curve.simulated_t.push_back(x);
    for (int level = 0; level < 3; ++level) {
      push_last(curve.simulated_top[level], s.simulated_top[level]);
      push_last(curve.simulated_top_ci[level], s.simulated_top_ci[level]);
    }
    push_last(curve.simulated_mean_level, s.simulated_mean_level);
    push_last(curve.simulated_mean_level_ci, s.simulated_mean_level_ci);
  }
  request.log_x = lowest > 0 && highest / lowest >= 100;
  return request;
}

}  // namespace blocklevels
