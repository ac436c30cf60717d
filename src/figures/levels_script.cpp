#include "figures/levels_script.hpp"

#include <algorithm>
#include <cmath>

#include "figures/figure_style.hpp"

namespace blocklevels {
namespace {

using namespace figure_style;

std::string text_of(double v) {
  std::string out;
  append_number(out, v);
  return out;
}

// A curve of the first panel: one level of one series, with its look.
struct LevelCurve {
  std::size_t series, level, look;
  std::string label;
};

std::vector<LevelCurve> level_curves(const PlotRequest& request) {
  const bool single = request.series.size() == 1;
  std::vector<LevelCurve> curves;
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    const PlotSeries& s = request.series[n];
    for (std::size_t p = 0; p < s.fraction.size(); ++p) {
      std::string label = single                  ? s.level_names[p]
                          : s.fraction.size() > 1 ? s.label + ", " + s.level_names[p]
                                                  : s.label;
      curves.push_back({n, p, curves.size(), std::move(label)});
    }
  }
  return curves;
}

// The look of series n's mean level: after the levels' for one point,
// else its first level's.
std::size_t mean_look(const PlotRequest& request, const std::vector<LevelCurve>& curves,
                      std::size_t n) {
  if (request.series.size() == 1) return curves.size();
  for (const LevelCurve& c : curves) {
    if (c.series == n) return c.look;
  }
  return n;
}

bool simulated(const PlotRequest& request) {
  for (const PlotSeries& s : request.series) {
    if (!s.simulated_t.empty()) return true;
  }
  return false;
}

// $m<n>: t, the mean level, then each level's fraction. $s<n>: t, then
// the mean level's simulated mean and its 95 % interval's ends, then each
// level's likewise, clipped to what the value can be (a fraction to
// [0, 1], the mean level to [0, l]). $d<n>: t, then per level the
// simulation minus the model and the simulation's half-width, at the
// report times both have.
void append_data(std::string& script, std::size_t n, const PlotSeries& s, bool check) {
  const std::string id = std::to_string(n);
  script += "$m" + id + " << EOD\n";
  for (std::size_t k = 0; k < s.t.size(); ++k) {
    append_number(script, s.t[k]);
    script += ' ';
    append_number(script, s.mean_level[k]);
    for (const std::vector<double>& level : s.fraction) {
      script += ' ';
      append_number(script, level[k]);
    }
    script += '\n';
  }
  script += "EOD\n$s" + id + " << EOD\n";
  const auto interval = [&script](double mean, double half_width, double most) {
    const double h = half_width == half_width ? half_width : 0.0;
    for (const double v : {mean, std::max(0.0, mean - h), std::min(most, mean + h)}) {
      script += ' ';
      append_number(script, v);
    }
  };
  for (std::size_t k = 0; k < s.simulated_t.size(); ++k) {
    append_number(script, s.simulated_t[k]);
    interval(s.simulated_mean_level[k], s.simulated_mean_level_ci[k], s.blocks);
    for (std::size_t p = 0; p < s.simulated_fraction.size(); ++p) {
      interval(s.simulated_fraction[p][k], s.simulated_fraction_ci[p][k], 1.0);
    }
    script += '\n';
  }
  script += "EOD\n";
  if (!check) return;
  script += "$d" + id + " << EOD\n";
  for (std::size_t k = 0; k < s.simulated_t.size(); ++k) {
    const auto at = std::find(s.t.begin(), s.t.end(), s.simulated_t[k]);
    if (at == s.t.end()) continue;
    const auto j = static_cast<std::size_t>(at - s.t.begin());
    append_number(script, s.simulated_t[k]);
    for (std::size_t p = 0; p < s.simulated_fraction.size(); ++p) {
      const double h = s.simulated_fraction_ci[p][k];
      script += ' ';
      append_number(script, s.simulated_fraction[p][k] - s.fraction[p][j]);
      script += ' ';
      append_number(script, h == h ? h : 0.0);
    }
    script += '\n';
  }
  script += "EOD\n";
}

// The largest |simulation - model| + half-width of the model check, with
// room around it; never 0.
double check_extent(const PlotSeries& s) {
  double most = 0;
  for (std::size_t k = 0; k < s.simulated_t.size(); ++k) {
    const auto at = std::find(s.t.begin(), s.t.end(), s.simulated_t[k]);
    if (at == s.t.end()) continue;
    const auto j = static_cast<std::size_t>(at - s.t.begin());
    for (std::size_t p = 0; p < s.simulated_fraction.size(); ++p) {
      const double h = s.simulated_fraction_ci[p][k];
      most = std::max(
          most, std::fabs(s.simulated_fraction[p][k] - s.fraction[p][j]) + (h == h ? h : 0.0));
    }
  }
  return most > 0 ? most * 1.15 : 1e-3;
}

// Where everything goes, in fractions of the figure.
struct Layout {
  Geometry g;
  std::vector<std::string> title;
  KeyLayout key;
  double left = 0, right = 0;
  std::vector<double> top, bottom, height_pt;  // per panel, from the top
};

Layout layout_of(const PlotRequest& request, const std::vector<std::string>& key_labels,
                 std::size_t tic_characters) {
  Layout l;
  const Geometry& g = l.g = geometry_of(request.text);
  const double f = g.font_pt;
  l.title = title_lines(request.text.title, g, g.width_pt - 2 * f);
  l.key = key_layout(key_labels, g, g.width_pt - 2 * f);
  l.left = g.across(0.4 * f + g.line_pt() + g.text_pt(tic_characters) + 0.6 * f);
  l.right = 1 - g.across(l.key.at_right ? l.key.width_pt + 1.5 * f : 1.5 * f);
  const double top_pt = static_cast<double>(l.title.size()) * g.line_pt() + 0.9 * f;
  const double bottom_pt = (l.key.at_right ? 0 : l.key.height_pt + 0.4 * f) + 2.8 * g.line_pt();
  const std::vector<double> weights =
      request.model_check ? std::vector<double>{3, 2, 2} : std::vector<double>{3, 2};
  const double gap = 0.7 * f;
  const double room =
      g.height_pt - top_pt - bottom_pt - gap * static_cast<double>(weights.size() - 1);
  double y = g.height_pt - top_pt;
  for (const double w : weights) {
    const double h = room * w / (weights.size() == 3 ? 7 : 5);
    l.top.push_back(g.up(y));
    l.bottom.push_back(g.up(y - h));
    l.height_pt.push_back(h);
    y -= h + gap;
  }
  return l;
}

std::string margins(const Layout& l, std::size_t panel) {
  return margin_lines(l.left, l.right, l.top[panel], l.bottom[panel]);
}

// The longest of `labels` that fits the panel's height, else the last.
std::string y_label(const Layout& l, std::size_t panel, std::vector<std::string> labels) {
  for (const std::string& label : labels) {
    if (l.g.text_pt(label.size()) <= l.height_pt[panel]) return label;
  }
  return labels.back();
}

// Markers on every k-th point from its own offset, so that the markers of
// different curves never share an x and each stays clear of the next.
std::string every(std::size_t curve, std::size_t curves, std::size_t points, const Layout& l,
                  double spacing_fonts) {
  const double width_pt = (l.right - l.left) * l.g.width_pt;
  const auto thin = static_cast<std::size_t>(
      std::ceil(static_cast<double>(points) * spacing_fonts * l.g.font_pt / width_pt));
  const std::size_t k = std::max<std::size_t>({curves, thin, 1});
  return " every " + std::to_string(k) + "::" + std::to_string(curve * k / curves % k);
}

class PlotCommand {
 public:
  void add(const std::string& part) { text_ += (text_.empty() ? "plot " : ", \\\n     ") + part; }
  std::string line() const { return text_ + "\n"; }

 private:
  std::string text_;
};

// The model's curves: lines, and markers (not with a simulation, whose
// points take their place) every few points over time, at every value of
// a figure of final values.
void model_curves(PlotCommand& plot, const PlotRequest& request, const Layout& l,
                  const std::vector<std::pair<std::string, std::size_t>>& columns_looks,
                  std::size_t points) {
  const std::string lw = " lw " + fixed(line_width(l.g));
  const std::string ps = " ps " + fixed(marker_size(l.g));
  const std::size_t curves = columns_looks.size();
  for (std::size_t c = 0; c < curves; ++c) {
    const auto& [using_text, look] = columns_looks[c];
    plot.add(using_text + " with lines" + lw + " dt " + std::to_string(dash(look)) + " " +
             colour(look) + " notitle");
  }
  if (simulated(request)) return;
  for (std::size_t c = 0; c < curves; ++c) {
    const auto& [using_text, look] = columns_looks[c];
    plot.add(using_text + (request.over_time ? every(c, curves, points, l, 4) : "") +
             " with points pt " + std::to_string(open_marker(look)) + ps + lw + " " + colour(look) +
             " notitle");
  }
}

// The simulation's means with their 95 % intervals as bars.
void simulated_points(PlotCommand& plot, const Layout& l,
                      const std::vector<std::pair<std::string, std::size_t>>& columns_looks,
                      std::size_t points) {
  const std::size_t curves = columns_looks.size();
  for (std::size_t c = 0; c < curves; ++c) {
    const auto& [using_text, look] = columns_looks[c];
    plot.add(using_text + every(c, curves, points, l, 2.5) + " with yerrorbars pt 7 ps " +
             fixed(0.6 * marker_size(l.g)) + " lw " + fixed(0.7 * line_width(l.g)) + " " +
             colour(look) + " notitle");
  }
}

std::size_t longest_t(const PlotRequest& request, bool simulation) {
  std::size_t most = 0;
  for (const PlotSeries& s : request.series) {
    most = std::max(most, simulation ? s.simulated_t.size() : s.t.size());
  }
  return most;
}

// The key's entries: the curves, the mean level of a single point, and
// what a simulation's points mean.
std::vector<std::pair<std::string, std::string>> key_entries(
    const PlotRequest& request, const std::vector<LevelCurve>& curves) {
  const bool sim = simulated(request);
  const std::string lw = " lw 1.5";
  std::vector<std::pair<std::string, std::string>> entries;
  const auto entry = [&](std::size_t look, const std::string& label) {
    const std::string marker = sim ? "" : " pt " + std::to_string(open_marker(look));
    entries.push_back({"keyentry with " + std::string(sim ? "lines" : "linespoints") + lw + " dt " +
                           std::to_string(dash(look)) + marker + " " + colour(look),
                       label});
  };
  for (const LevelCurve& c : curves) entry(c.look, c.label);
  if (request.series.size() == 1) entry(curves.size(), "mean level");
  if (sim) {
    entries.push_back({"keyentry with lines lw 1.5 lc rgb 'black'", "model"});
    entries.push_back({"keyentry with yerrorbars pt 7 ps 0.5 lc rgb 'black'", "simulated ± 95 %"});
  }
  return entries;
}

// Only the bottom panel has the x axis' numbers and label.
std::string x_axis(const PlotRequest& request, bool bottom) {
  if (!bottom) return "set format x ''\nunset xlabel\n";
  return "set format x '%g'\nset xlabel " + quoted(request.text.x_label) + "\n";
}

std::string x_tics(const PlotRequest& request, const Layout& l) {
  if (request.log_x) return "set logscale x\nset xtics autofreq\n";
  double low = INFINITY, high = -INFINITY;
  for (const PlotSeries& s : request.series) {
    for (const double x : s.t) {
      low = std::min(low, x);
      high = std::max(high, x);
    }
  }
  if (!(high > low)) return "set xtics autofreq\n";
  const double width_pt = (l.right - l.left) * l.g.width_pt;
  const int most = std::max(2, static_cast<int>(width_pt / l.g.text_pt(7)));
  return "set xtics " + text_of(tic_step(high - (low > 0 ? 0 : low), most)) + "\n";
}

// The first panel: every level's fraction.
std::string fraction_panel(const PlotRequest& request, const Layout& l,
                           const std::vector<LevelCurve>& curves) {
  std::string script = margins(l, 0);
  const bool single = request.series.size() == 1;
  const bool top_only = !single && request.series[0].fraction.size() == 1 &&
                        request.series[0].level_names[0] == "top level";
  std::string label = request.text.y_label;
  if (label.empty()) {
    label = y_label(
        l, 0,
        top_only ? std::vector<std::string>{"fraction at the top level", "at the top", "fraction"}
                 : std::vector<std::string>{"fraction at or above the level",
                                            "fraction at or above", "fraction"});
  }
  script += "set ylabel " + quoted(label) + "\n";
  if (request.log_y) {
    script += "set logscale y\nset format y '%g'\nset yrange [*:1.5]\nset ytics autofreq\n";
  } else {
    const bool room = l.height_pt[0] >= 7 * l.g.line_pt();
    script += "set yrange [-0.03:1.03]\nset ytics 0, " + std::string(room ? "0.2" : "0.5") +
              ", 1\nset format y '%g'\n";
  }
  PlotCommand plot;
  std::vector<std::pair<std::string, std::size_t>> model, sim;
  for (const LevelCurve& c : curves) {
    const std::string id = std::to_string(c.series);
    model.push_back({"$m" + id + " using 1:" + std::to_string(3 + c.level), c.look});
    if (request.series[c.series].simulated_t.empty()) continue;
    const std::size_t col = 5 + 3 * c.level;
    sim.push_back({"$s" + id + " using 1:" + std::to_string(col) + ":" + std::to_string(col + 1) +
                       ":" + std::to_string(col + 2),
                   c.look});
  }
  model_curves(plot, request, l, model, longest_t(request, false));
  simulated_points(plot, l, sim, longest_t(request, true));
  return script + plot.line();
}

// The mean level, on [0, l] with room for the markers.
std::string mean_panel(const PlotRequest& request, const Layout& l,
                       const std::vector<LevelCurve>& curves) {
  std::string script = margins(l, 1) + "unset logscale y\n";
  std::int32_t most = 1;
  for (const PlotSeries& s : request.series) most = std::max(most, s.blocks);
  const int intervals = std::clamp(static_cast<int>(l.height_pt[1] / (1.6 * l.g.line_pt())), 1, 5);
  script += "set yrange [" + text_of(-0.03 * most) + ":" + text_of(1.03 * most) + "]\n";
  script += "set ytics 0, " + text_of(tic_step(most, intervals)) + ", " + std::to_string(most) +
            "\nset format y '%g'\n";
  script += "set ylabel " +
            quoted(y_label(l, 1, {"mean level (complete blocks)", "mean level", "mean"})) + "\n";
  PlotCommand plot;
  std::vector<std::pair<std::string, std::size_t>> model, sim;
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    const std::string id = std::to_string(n);
    const std::size_t look = mean_look(request, curves, n);
    model.push_back({"$m" + id + " using 1:2", look});
    if (!request.series[n].simulated_t.empty()) sim.push_back({"$s" + id + " using 1:2:3:4", look});
  }
  model_curves(plot, request, l, model, longest_t(request, false));
  simulated_points(plot, l, sim, longest_t(request, true));
  return script + plot.line();
}

// Simulation minus model per level, with the simulation's 95 % intervals:
// within them at most report times where the model holds.
std::string check_panel(const PlotRequest& request, const Layout& l,
                        const std::vector<LevelCurve>& curves) {
  // A nice extent, its tics at 0 and at either end (and halfway where
  // there is room for labels 1.5 lines apart).
  const double extent = tic_step(check_extent(request.series[0]), 1);
  const bool halves = l.height_pt[2] >= 7.5 * l.g.line_pt();
  std::string script = margins(l, 2);
  script += "set yrange [" + text_of(-1.15 * extent) + ":" + text_of(1.15 * extent) + "]\n";
  const double step = halves ? extent / 2 : extent;
  script += "set ytics " + text_of(-2 * step) + ", " + text_of(step) + ", " + text_of(2 * step) +
            "\nset format y '%g'\n";
  script += "set ylabel " +
            quoted(y_label(l, 2, {"simulation - model", "sim. - model", "sim-model"})) + "\n";
  PlotCommand plot;
  plot.add("0 with lines lw 0.5 lc rgb 'black' notitle");
  std::vector<std::pair<std::string, std::size_t>> points;
  for (const LevelCurve& c : curves) {
    points.push_back(
        {"$d0 using 1:" + std::to_string(2 + 2 * c.level) + ":" + std::to_string(3 + 2 * c.level),
         c.look});
  }
  const std::size_t curves_count = points.size();
  const std::string size = fixed(0.6 * marker_size(l.g));
  for (std::size_t c = 0; c < curves_count; ++c) {
    plot.add(points[c].first + every(c, curves_count, longest_t(request, true), l, 2.5) +
             " with yerrorbars pt 7 ps " + size + " lw " + fixed(0.7 * line_width(l.g)) + " " +
             colour(points[c].second) + " notitle");
  }
  return script + plot.line();
}

// The widest tic label of the panels, in characters.
std::size_t tic_characters(const PlotRequest& request) {
  std::int32_t most = 1;
  for (const PlotSeries& s : request.series) most = std::max(most, s.blocks);
  std::size_t chars = std::max<std::size_t>(request.log_y ? 6 : 3, std::to_string(most).size());
  return request.model_check ? std::max<std::size_t>(chars, 7) : chars;
}

}  // namespace

std::string levels_script(const PlotRequest& request) {
  const std::vector<LevelCurve> curves = level_curves(request);
  std::vector<std::string> labels;
  for (const auto& e : key_entries(request, curves)) labels.push_back(e.second);
  const Layout l = layout_of(request, labels, tic_characters(request));
  std::string script = terminal_lines(request.format, l.g);
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    append_data(script, n, request.series[n], request.model_check && n == 0);
  }
  script += "set multiplot\nunset key\nset grid\nset bars small\n" + title_labels(l.title, l.g);
  if (request.log_x) script += "set logscale x\n";
  script += request.over_time ? "set autoscale xfix\nset offsets 0, 0, 0, 0\n"
                              : "set autoscale xfix\nset offsets graph 0.03, graph 0.03, 0, 0\n";
  script += x_tics(request, l);
  const std::size_t panels = request.model_check ? 3 : 2;
  script += x_axis(request, panels == 1) + fraction_panel(request, l, curves) + "unset label\n";
  script += x_axis(request, panels == 2) + mean_panel(request, l, curves);
  if (request.model_check) script += x_axis(request, true) + check_panel(request, l, curves);
  return script + key_plot(l.key, l.g, l.right, key_entries(request, curves)) + "unset multiplot\n";
}

}  // namespace blocklevels
