#include "figures/study_figure.hpp"

#include <algorithm>
#include <cmath>
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
    if (!d.in_title || (study.find && study.find->parameter == &d)) continue;
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

// The figure's file, size and log scale as the study asks.
PlotRequest request_of(const Study& study) {
  PlotRequest request;
  request.file = study.plot;
  request.title = title_of(study);
  request.width_in = study.plot_width;
  request.height_in = study.plot_height;
  request.log_y = study.plot_logy;
  return request;
}

// The parameter along the x axis: --plot-x's, or the swept parameter with
// the most distinct values (the first in the table's order of those).
template <typename Points>
std::string across_of(const Study& study, const Points& points) {
  if (!study.plot_x.empty()) return study.plot_x;
  std::string across;
  std::size_t most = 0;
  for (const std::string& name : study.swept) {
    std::map<std::string, int> distinct;
    for (const auto& p : points) distinct[value_text(*p.point, name)] = 1;
    if (distinct.size() > most) {
      most = distinct.size();
      across = name;
    }
  }
  return across;
}

PlotRequest study_figure(const Study& study, std::vector<PointSeries> points) {
  PlotRequest request = request_of(study);
  if (points.size() <= kMostCurves && study.plot_x.empty()) {
    for (PointSeries& p : points) {
      p.series.label = label_of(*p.point, study.swept, "");
      p.series.blocks = p.point->p.blocks;
      request.series.push_back(std::move(p.series));
    }
    return request;
  }
  const std::string across = across_of(study, points);
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

namespace {

bool spans_decades(const std::vector<double>& v) {
  if (v.empty()) return false;
  const auto [low, high] = std::minmax_element(v.begin(), v.end());
  return *low > 0 && *high / *low >= 100;
}

// The crossings against the parameter `across`: curve k of a label holds
// each point's k-th crossing.
void crossing_curves(const std::vector<PointAnswer>& points, const std::string& across,
                     const std::vector<std::string>& swept, const std::string& name_alone,
                     PlotRequest& request) {
  std::map<std::pair<std::string, std::size_t>, std::size_t> curve_of;
  for (const PointAnswer& a : points) {
    const std::string label = label_of(*a.point, swept, across);
    for (std::size_t k = 0; k < a.crossings.size(); ++k) {
      // A crossing where the quantity falls, one where it rises.
      const std::size_t kind = a.directions[k] == Direction::falling ? 0 : 1;
      auto [at, added] = curve_of.emplace(std::pair(label, kind), request.curves.size());
      if (added) {
        std::string name = label.empty() ? name_alone : label + ": " + name_alone;
        name += kind == 0 ? " falling below" : " rising above";
        request.curves.push_back({name, {}, {}, false});
      }
      request.curves[at->second].x.push_back(value_number(*a.point, across));
      request.curves[at->second].y.push_back(a.crossings[k]);
    }
  }
}

}  // namespace

PlotRequest answer_figure(const Study& study, const std::vector<PointAnswer>& points) {
  PlotRequest request = request_of(study);
  request.kind = FigureKind::curves;
  const Point& first = *points.front().point;
  const std::string final_text = " at t=" + std::to_string(last_report_time(first.p));
  if (!study.plot_map.empty()) {
    const Quantity q = parse_condition(study.plot_map + "=0")->quantity;
    request.map.z_label = q.name() + final_text;
    // --plot-x puts one of two swept parameters along x; the other goes up.
    const std::string x_name = study.plot_x.empty() ? study.swept[0] : study.plot_x;
    request.x_label = x_name;
    if (study.find) {
      const std::string y_name(study.find->parameter->name);
      request.y_label = y_name;
      std::size_t scan = 0;
      for (const PointAnswer& a : points) scan = std::max(scan, a.grid_values.size());
      for (const PointAnswer& a : points) {
        // The grid is the search's, the same for every point; a point that
        // stopped has none, and its column stays empty.
        if (a.grid_values.size() != scan) continue;
        for (std::size_t k = 0; k < a.grid_values.size(); ++k) {
          request.map.x.push_back(value_number(*a.point, x_name));
          request.map.y.push_back(static_cast<double>(a.grid_values[k]));
          request.map.z.push_back(a.grid_quantity[k]);
        }
      }
      crossing_curves(
          points, x_name, study.swept,
          study.find->condition.quantity.name() + "=" + study.find->condition.value_text, request);
      for (PlotCurve& c : request.curves) c.label += " as " + request.y_label + " grows";
    } else {
      const std::string y_name = study.swept[0] == x_name ? study.swept[1] : study.swept[0];
      request.y_label = y_name;
      for (const PointAnswer& a : points) {
        request.map.x.push_back(value_number(*a.point, x_name));
        request.map.y.push_back(value_number(*a.point, y_name));
        request.map.z.push_back(a.final_quantity.value_or(std::nan("")));
      }
    }
    request.log_x = spans_decades(request.map.x);
    request.log_y = spans_decades(request.map.y);
    return request;
  }
  const Condition& where = study.find->condition;
  const std::string searched(study.find->parameter->name);
  if (study.swept.empty()) {
    const PointAnswer& a = points.front();
    request.x_label = searched;
    request.y_label = where.quantity.name() + final_text;
    PlotCurve grid{where.quantity.name(), {}, a.grid_quantity, false};
    for (const long double v : a.grid_values) grid.x.push_back(static_cast<double>(v));
    PlotCurve found{"crossing", a.crossings, {}, true};
    found.y.assign(a.crossings.size(), static_cast<double>(where.value));
    request.curves = {grid, found};
    request.has_level = true;
    request.level = static_cast<double>(where.value);
    request.level_label = where.quantity.name() + "=" + where.value_text;
    request.log_x = spans_decades(grid.x);
    return request;
  }
  const std::string across = across_of(study, points);
  request.x_label = across;
  request.y_label =
      searched + " where " + where.quantity.name() + "=" + where.value_text + final_text;
  crossing_curves(points, across, study.swept, where.quantity.name() + "=" + where.value_text,
                  request);
  for (PlotCurve& c : request.curves) c.label += " as " + searched + " grows";
  std::vector<double> xs, ys;
  for (const PlotCurve& c : request.curves) {
    xs.insert(xs.end(), c.x.begin(), c.x.end());
    ys.insert(ys.end(), c.y.begin(), c.y.end());
  }
  request.log_x = spans_decades(xs);
  request.log_y = request.log_y || spans_decades(ys);
  return request;
}

std::optional<PlotRequest> figure_request(const Study& study,
                                          const std::vector<PointFigure>& points) {
  if (study.find || !study.plot_map.empty()) {
    std::vector<PointAnswer> answers;
    for (const PointFigure& p : points) {
      PointAnswer a{&p.point, p.crossings, p.directions, p.grid_values, p.grid_quantity,
                    std::nullopt};
      if (p.last_tail && !study.plot_map.empty()) {
        a.final_quantity = parse_condition(study.plot_map + "=0")->quantity.of(*p.last_tail);
      }
      answers.push_back(std::move(a));
    }
    if (answers.empty()) return std::nullopt;
    PlotRequest request = answer_figure(study, answers);
    if (request.curves.empty() && request.map.z.empty()) return std::nullopt;
    return request;
  }
  std::vector<PointSeries> drawn;
  for (const PointFigure& p : points) {
    const PlotSeries& s = p.series;
    if (s.t.empty() && s.simulated_t.empty()) continue;
    drawn.push_back({&p.point, s});
  }
  PlotRequest request = study_figure(study, std::move(drawn));
  if (request.series.empty()) return std::nullopt;
  return request;
}

}  // namespace blocklevels
