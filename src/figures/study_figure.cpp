#include "figures/study_figure.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <map>
#include <set>
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

// Whether `name`'s value follows `across`'s at every point (zipped with
// it, or mu as one ratio of lambda): one curve holds them both.
template <typename Points>
bool follows(const Points& points, const std::string& across, const std::string& name) {
  std::map<std::string, std::string> seen;
  for (const auto& p : points) {
    const auto [at, added] = seen.emplace(value_text(*p.point, across), value_text(*p.point, name));
    if (!added && at->second != value_text(*p.point, name)) return false;
  }
  return true;
}

// The swept parameters that vary apart from `across` (all, for "").
template <typename Points>
std::vector<std::string> apart_from(const Study& study, const Points& points,
                                    const std::string& across) {
  std::vector<std::string> names;
  for (const std::string& name : study.swept) {
    if (across.empty() || (name != across && !follows(points, across, name))) {
      names.push_back(name);
    }
  }
  return names;
}

std::string label_of(const Point& point, const std::vector<std::string>& names) {
  std::string label;
  for (const std::string& name : names) {
    label += (label.empty() ? "" : ", ") + name + "=" + value_text(point, name);
  }
  return label;
}

bool is_swept(const Study& study, std::string_view name) {
  return std::find(study.swept.begin(), study.swept.end(), name) != study.swept.end();
}

// The parameters every point shares (a choice only when it is not its
// default), the final generation and the simulation's runs.
std::string title_of(const Study& study) {
  std::string title;
  const Point& first = study.points.front();
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.in_title || (study.find && study.find->parameter == &d) || is_swept(study, d.name)) {
      continue;
    }
    const std::string text = value_text(first, d.name);
    if (d.kind == ParameterKind::choice && text == d.default_text) continue;
    title += (title.empty() ? "" : ", ") + std::string(d.name) + "=" + text;
  }
  if (!is_swept(study, "final")) {
    title += (title.empty() ? "" : ", ") + std::string("final=") + value_text(first, "final");
  }
  if (study.simulate_runs > 0) {
    title += ", " + std::to_string(study.simulate_runs) + " simulated runs";
  }
  return title;
}

}  // namespace

// The figure's format, size, words and log scale as the study asks.
PlotRequest request_of(const Study& study) {
  PlotRequest request;
  request.format = study.plot.substr(study.plot.rfind('.') + 1);
  request.text.title = title_of(study);
  request.text.width_in = study.plot_width;
  request.text.height_in = study.plot_height;
  request.text.font_scale = study.plot_font_scale;
  request.log_y = study.plot_logy;
  return request;
}

// The labels the study gives in place of the figure's own.
PlotRequest with_given_text(const Study& study, PlotRequest request) {
  if (!study.plot_title.empty()) request.text.title = study.plot_title;
  if (!study.plot_xlabel.empty()) request.text.x_label = study.plot_xlabel;
  if (!study.plot_ylabel.empty()) request.text.y_label = study.plot_ylabel;
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
    std::set<std::string> distinct;
    for (const auto& p : points) distinct.insert(value_text(*p.point, name));
    if (distinct.size() > most) {
      most = distinct.size();
      across = name;
    }
  }
  return across;
}

namespace {

// The levels' names in the key, and only the first level's fractions for
// several points unless --plot-levels chose them.
void name_levels(const Study& study, std::vector<PlotSeries>& series) {
  const std::vector<LevelPick> picks = read_plot_levels(
      "--plot-levels", study.plot_levels.empty() ? kDefaultLevels : study.plot_levels);
  const bool one = series.size() == 1;
  bool same_blocks = true;
  for (const PlotSeries& s : series) same_blocks = same_blocks && s.blocks == series[0].blocks;
  for (PlotSeries& s : series) {
    const std::size_t kept = one || !study.plot_levels.empty() ? picks.size() : 1;
    for (auto* v : {&s.fraction, &s.simulated_fraction, &s.simulated_fraction_ci}) {
      if (v->size() > kept) v->resize(kept);
    }
    s.level_names.clear();
    for (std::size_t p = 0; p < kept; ++p) {
      s.level_names.push_back(level_name(picks[p], s.blocks, one, same_blocks));
    }
  }
}

void push_last(std::vector<double>& to, const std::vector<double>& from) {
  to.push_back(from.empty() ? std::nan("") : from.back());
}

void push_last_levels(std::vector<std::vector<double>>& to,
                      const std::vector<std::vector<double>>& from) {
  to.resize(from.size());
  for (std::size_t p = 0; p < from.size(); ++p) push_last(to[p], from[p]);
}

// One series per combination of the parameters apart from `across`, its
// values at the last report against `across`.
std::vector<PlotSeries> final_values(const Study& study, const std::vector<PointSeries>& points,
                                     const std::string& across) {
  const std::vector<std::string> apart = apart_from(study, points, across);
  std::vector<PlotSeries> series;
  std::map<std::string, std::size_t> series_of;
  for (const PointSeries& p : points) {
    const std::string label = label_of(*p.point, apart);
    const auto [at, added] = series_of.emplace(label, series.size());
    if (added) {
      series.emplace_back();
      series.back().label = label;
      series.back().blocks = p.point->p.blocks;
    }
    PlotSeries& curve = series[at->second];
    const PlotSeries& s = p.series;
    const double x = value_number(*p.point, across);
    curve.t.push_back(x);
    curve.blocks = std::max(curve.blocks, p.point->p.blocks);
    push_last_levels(curve.fraction, s.fraction);
    push_last(curve.mean_level, s.mean_level);
    if (s.simulated_t.empty()) continue;
    curve.simulated_t.push_back(x);
    push_last_levels(curve.simulated_fraction, s.simulated_fraction);
    push_last_levels(curve.simulated_fraction_ci, s.simulated_fraction_ci);
    push_last(curve.simulated_mean_level, s.simulated_mean_level);
    push_last(curve.simulated_mean_level_ci, s.simulated_mean_level_ci);
  }
  return series;
}

bool spans_decades(const std::vector<double>& v) {
  if (v.empty()) return false;
  const auto [low, high] = std::minmax_element(v.begin(), v.end());
  return *low > 0 && *high / *low >= 100;
}

// "lambda (values at t=100)", naming the parameters that follow it.
template <typename Points>
std::string across_label(const Study& study, const Points& points, const std::string& across,
                         const std::string& what) {
  std::string label = across;
  for (const std::string& name : study.swept) {
    if (name != across && follows(points, across, name)) label += ", " + name;
  }
  return label + what;
}

}  // namespace

PlotRequest study_figure(const Study& study, std::vector<PointSeries> points) {
  PlotRequest request = request_of(study);
  if (points.size() <= kMostCurves && study.plot_x.empty()) {
    const std::vector<std::string> apart = apart_from(study, points, "");
    for (PointSeries& p : points) {
      p.series.label = label_of(*p.point, apart);
      request.series.push_back(std::move(p.series));
    }
    request.model_check = request.series.size() == 1 && !request.series[0].simulated_t.empty();
  } else {
    const std::string across = across_of(study, points);
    const std::string when =
        is_swept(study, "final")
            ? " (values at the last report)"
            : " (values at t=" + value_text(*points.front().point, "final") + ")";
    request.text.x_label = across_label(study, points, across, when);
    request.over_time = false;
    request.series = final_values(study, points, across);
    std::vector<double> xs;
    for (const PointSeries& p : points) xs.push_back(value_number(*p.point, across));
    request.log_x = spans_decades(xs);
  }
  name_levels(study, request.series);
  return with_given_text(study, std::move(request));
}

namespace {

// The crossings against the parameter `across`: a curve per label and
// direction holds each point's crossings in that direction; a point with
// none, or one that stopped, is marked at its x.
void crossing_curves(const Study& study, const std::vector<PointAnswer>& points,
                     const std::string& across, const std::string& name_alone,
                     PlotRequest& request) {
  const std::vector<std::string> apart = apart_from(study, points, across);
  std::map<std::pair<std::string, std::size_t>, std::size_t> curve_of;
  for (const PointAnswer& a : points) {
    const double x = value_number(*a.point, across);
    if (a.stopped) request.stopped_x.push_back(x);
    if (a.not_found) request.not_found_x.push_back(x);
    const std::string label = label_of(*a.point, apart);
    for (std::size_t k = 0; k < a.crossings.size(); ++k) {
      // A crossing where the quantity falls, one where it rises.
      const std::size_t kind = a.directions[k] == Direction::falling ? 0 : 1;
      auto [at, added] = curve_of.emplace(std::pair(label, kind), request.curves.size());
      if (added) {
        std::string name = label.empty() ? name_alone : label + ": " + name_alone;
        name += kind == 0 ? " falling below" : " rising above";
        request.curves.push_back({name, {}, {}, false});
      }
      request.curves[at->second].x.push_back(x);
      request.curves[at->second].y.push_back(a.crossings[k]);
    }
    for (std::size_t k = 0; k < a.simulated.size(); ++k) {
      const std::size_t kind = a.simulated_directions[k] == Direction::falling ? 2 : 3;
      auto [at, added] = curve_of.emplace(std::pair(label, kind), request.curves.size());
      if (added) {
        std::string name = "simulated " + (label.empty() ? name_alone : label + ": " + name_alone);
        name += kind == 2 ? " falling below" : " rising above";
        request.curves.push_back({name, {}, {}, true, Bars::along_y, {}, {}});
      }
      PlotCurve& c = request.curves[at->second];
      c.x.push_back(x);
      c.y.push_back(a.simulated[k]);
      c.low.push_back(a.simulated_lower[k]);
      c.high.push_back(a.simulated_upper[k]);
    }
  }
}

void map_figure(const Study& study, const std::vector<PointAnswer>& points,
                const std::string& final_text, PlotRequest& request) {
  const Quantity q = parse_condition(study.plot_map + "=0")->quantity;
  request.map.z_label = q.name() + final_text;
  // --plot-x puts one of two swept parameters along x; the other goes up.
  const std::string x_name = study.plot_x.empty() ? study.swept[0] : study.plot_x;
  request.text.x_label = x_name;
  if (study.find) {
    request.text.y_label = study.find->parameter->name;
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
    crossing_curves(study, points, x_name,
                    study.find->condition.quantity.name() + "=" + study.find->condition.value_text,
                    request);
    for (PlotCurve& c : request.curves) c.label += " as " + request.text.y_label + " grows";
  } else {
    const std::string y_name = study.swept[0] == x_name ? study.swept[1] : study.swept[0];
    request.text.y_label = y_name;
    for (const PointAnswer& a : points) {
      request.map.x.push_back(value_number(*a.point, x_name));
      request.map.y.push_back(value_number(*a.point, y_name));
      request.map.z.push_back(a.final_quantity.value_or(std::nan("")));
    }
  }
  request.log_x = spans_decades(request.map.x);
  request.log_y = spans_decades(request.map.y);
}

void single_search(const Study& study, const PointAnswer& a, const std::string& final_text,
                   PlotRequest& request) {
  const Condition& where = study.find->condition;
  request.text.x_label = study.find->parameter->name;
  request.text.y_label = where.quantity.name() + final_text;
  PlotCurve found{"crossing", a.crossings, {}, true};
  found.y.assign(a.crossings.size(), static_cast<double>(where.value));
  if (!a.grid_values.empty()) {
    PlotCurve grid{where.quantity.name(), {}, a.grid_quantity, false};
    for (const long double v : a.grid_values) grid.x.push_back(static_cast<double>(v));
    request.log_x = spans_decades(grid.x);
    request.curves.push_back(std::move(grid));
  } else {
    request.log_x = spans_decades(a.crossings);
  }
  request.curves.push_back(std::move(found));
  if (!a.simulated.empty()) {
    PlotCurve simulated{"simulated crossing (95 % band's interval)",
                        a.simulated,
                        {},
                        true,
                        Bars::along_x,
                        a.simulated_lower,
                        a.simulated_upper};
    simulated.y.assign(a.simulated.size(), static_cast<double>(where.value));
    request.curves.push_back(std::move(simulated));
  }
  request.has_level = true;
  request.level = static_cast<double>(where.value);
  request.level_label = where.quantity.name() + "=" + where.value_text;
  request.y_fraction = where.quantity.kind != Quantity::Kind::mean_level;
}

}  // namespace

PlotRequest answer_figure(const Study& study, const std::vector<PointAnswer>& points) {
  PlotRequest request = request_of(study);
  request.kind = FigureKind::curves;
  request.over_time = false;
  const Point& first = *points.front().point;
  const std::string final_text = " at t=" + std::to_string(last_report_time(first.p));
  if (!study.plot_map.empty()) {
    map_figure(study, points, final_text, request);
    return with_given_text(study, std::move(request));
  }
  if (study.swept.empty()) {
    single_search(study, points.front(), final_text, request);
    return with_given_text(study, std::move(request));
  }
  const Condition& where = study.find->condition;
  const std::string searched(study.find->parameter->name);
  const std::string across = across_of(study, points);
  request.text.x_label = across_label(study, points, across, "");
  request.text.y_label =
      searched + " where " + where.quantity.name() + "=" + where.value_text + final_text;
  crossing_curves(study, points, across, where.quantity.name() + "=" + where.value_text, request);
  for (PlotCurve& c : request.curves) c.label += " as " + searched + " grows";
  std::vector<double> xs, ys;
  for (const PointAnswer& a : points) xs.push_back(value_number(*a.point, across));
  for (const PlotCurve& c : request.curves) ys.insert(ys.end(), c.y.begin(), c.y.end());
  request.log_x = spans_decades(xs);
  request.log_y = request.log_y || spans_decades(ys);
  return with_given_text(study, std::move(request));
}

std::optional<PlotRequest> figure_request(const Study& study,
                                          const std::vector<PointFigure>& points) {
  if (study.find || !study.plot_map.empty()) {
    std::vector<PointAnswer> answers;
    for (const PointFigure& p : points) {
      PointAnswer a{&p.point,          p.crossings,       p.directions,
                    p.grid_values,     p.grid_quantity,   std::nullopt,
                    p.not_found,       p.stopped,         p.simulated_crossings,
                    p.simulated_lower, p.simulated_upper, p.simulated_directions};
      if (p.last_tail && !study.plot_map.empty()) {
        a.final_quantity = parse_condition(study.plot_map + "=0")->quantity.of(*p.last_tail);
      }
      answers.push_back(std::move(a));
    }
    if (answers.empty()) return std::nullopt;
    PlotRequest request = answer_figure(study, answers);
    bool drawn =
        !request.map.z.empty() || !request.not_found_x.empty() || !request.stopped_x.empty();
    for (const PlotCurve& c : request.curves) drawn = drawn || !c.x.empty();
    if (!drawn) return std::nullopt;
    return request;
  }
  std::vector<PointSeries> drawn;
  for (const PointFigure& p : points) {
    const PlotSeries& s = p.series;
    if (s.t.empty() && s.simulated_t.empty()) continue;
    drawn.push_back({&p.point, s});
  }
  if (drawn.empty()) return std::nullopt;
  return study_figure(study, std::move(drawn));
}

}  // namespace blocklevels
