#include "figures/curves_script.hpp"

#include <algorithm>
#include <cmath>

#include "figures/figure_style.hpp"

namespace blocklevels {
namespace {

using namespace figure_style;

void append_row(std::string& script, std::initializer_list<double> values) {
  const char* gap = "";
  for (const double v : values) {
    script += gap;
    append_number(script, v);
    gap = " ";
  }
  script += '\n';
}

// $c<n>: each curve's x and y.
void append_curves(std::string& script, const std::vector<PlotCurve>& curves) {
  for (std::size_t n = 0; n < curves.size(); ++n) {
    script += "$c" + std::to_string(n) + " << EOD\n";
    const PlotCurve& c = curves[n];
    for (std::size_t k = 0; k < c.x.size(); ++k) {
      if (c.bars == Bars::none) {
        append_row(script, {c.x[k], c.y[k]});
      } else {
        append_row(script, {c.x[k], c.y[k], c.low[k], c.high[k]});
      }
    }
    script += "EOD\n";
  }
}

// The distinct values of `at`, and the bounds of the cells around them:
// halfway to their neighbours (in logarithm on a log axis), the outer
// cells as wide as their inner halves.
std::pair<std::vector<double>, std::vector<double>> cells(const std::vector<double>& at, bool log) {
  std::vector<double> v(at);
  std::sort(v.begin(), v.end());
  v.erase(std::unique(v.begin(), v.end()), v.end());
  std::vector<double> bounds(v.size() + 1);
  const auto f = [log](double x) { return log ? std::log(x) : x; };
  const auto g = [log](double x) { return log ? std::exp(x) : x; };
  for (std::size_t k = 1; k < v.size(); ++k) bounds[k] = g((f(v[k - 1]) + f(v[k])) / 2);
  const double half = v.size() > 1 ? (f(v[1]) - f(v[0])) / 2 : (log ? 0.1 : 0.5);
  const double last_half = v.size() > 1 ? (f(v.back()) - f(v[v.size() - 2])) / 2 : half;
  bounds[0] = g(f(v[0]) - half);
  bounds[v.size()] = g(f(v.back()) + last_half);
  return {v, bounds};
}

// $map: x, y, the cell's x and y bounds, z. Drawn in order of x, then y,
// each cell reaching halfway over the cells above and to the right of
// it, which are drawn after it and cover that half again: no seam of the
// background shows between them.
void append_map(std::string& script, const PlotRequest& request) {
  const PlotMap& map = request.map;
  const auto [xs, x_bounds] = cells(map.x, request.log_x);
  const auto [ys, y_bounds] = cells(map.y, request.log_y);
  std::vector<std::size_t> order(map.z.size());
  for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(), [&map](std::size_t a, std::size_t b) {
    return map.x[a] != map.x[b] ? map.x[a] < map.x[b] : map.y[a] < map.y[b];
  });
  const auto over_next = [](const std::vector<double>& bounds, std::size_t i, bool log) {
    if (i + 2 >= bounds.size()) return bounds[i + 1];
    return log ? std::sqrt(bounds[i + 1] * bounds[i + 2]) : (bounds[i + 1] + bounds[i + 2]) / 2;
  };
  const auto index = [](const std::vector<double>& values, double v) {
    return static_cast<std::size_t>(std::lower_bound(values.begin(), values.end(), v) -
                                    values.begin());
  };
  script += "$map << EOD\n";
  for (const std::size_t k : order) {
    const std::size_t i = index(xs, map.x[k]), j = index(ys, map.y[k]);
    append_row(script, {map.x[k], map.y[k], x_bounds[i], over_next(x_bounds, i, request.log_x),
                        y_bounds[j], over_next(y_bounds, j, request.log_y), map.z[k]});
  }
  script += "EOD\n";
}

// "1:2 with points", or with its bars "1:2:3:4 with yerrorbars".
std::string style_of(const PlotCurve& c) {
  switch (c.bars) {
    case Bars::along_x:
      return "1:2:3:4 with xerrorbars";
    case Bars::along_y:
      return "1:2:3:4 with yerrorbars";
    case Bars::none:
      break;
  }
  return std::string("1:2 with ") + (c.points_only ? "points" : "linespoints");
}

// A curve's dash; an interval's bar is solid, so that it reads as one.
int dash_of(const PlotCurve& c, std::size_t n) {
  return c.bars == Bars::none ? dash(n) : 1;
}

bool drawn(const PlotCurve& curve) {
  return !curve.x.empty();
}

// The key's entries: each curve, the level line, the marks of points that
// found nothing or stopped.
std::vector<std::pair<std::string, std::string>> key_entries(const PlotRequest& request,
                                                             const Geometry& g) {
  std::vector<std::pair<std::string, std::string>> entries;
  const std::string size = " ps " + fixed(1.3 * marker_size(g)) + " lw " + fixed(line_width(g));
  for (std::size_t n = 0; n < request.curves.size(); ++n) {
    const PlotCurve& c = request.curves[n];
    if (!drawn(c)) continue;
    entries.push_back({"keyentry with " + style_of(c).substr(style_of(c).find("with ") + 5) +
                           " pt " + std::to_string(filled_marker(n)) + " dt " +
                           std::to_string(dash_of(c, n)) + size + " " + colour(n),
                       c.label});
  }
  if (request.has_level) {
    entries.push_back({"keyentry with lines dt 2 lw 1 lc rgb 'black'", request.level_label});
  }
  if (!request.not_found_x.empty()) {
    entries.push_back({"keyentry with points pt 2" + size + " lc rgb '#555555'", "no crossing"});
  }
  if (!request.stopped_x.empty()) {
    entries.push_back({"keyentry with points pt 3" + size + " lc rgb '#555555'", "stopped"});
  }
  return entries;
}

// Marks at the foot of the frame, at the x of each point that found no
// crossing (an x) or stopped (a star).
std::string marks(const PlotRequest& request, const Geometry& g) {
  std::string script;
  int tag = 100;
  const std::string size = " ps " + fixed(1.3 * marker_size(g)) + " lw " + fixed(line_width(g));
  for (const auto& [xs, marker] :
       {std::pair{&request.not_found_x, 2}, std::pair{&request.stopped_x, 3}}) {
    for (const double x : *xs) {
      std::string at;
      append_number(at, x);
      script += "set label " + std::to_string(++tag) + " '' at first " + at +
                ", graph 0.04 point pt " + std::to_string(marker) + size +
                " lc rgb '#555555' front\n";
    }
  }
  return script;
}

// Curves in distinct colours, dashes and markers, all of one size,
// white-edged over a map.
std::string plot_command(const PlotRequest& request, const Geometry& g) {
  std::string command;
  const auto add = [&command](const std::string& part) {
    command += (command.empty() ? "plot " : ", \\\n     ") + part;
  };
  const bool with_map = !request.map.z.empty();
  if (with_map) add("$map using 1:2:3:4:5:6:7 with boxxyerror lc palette notitle");
  const std::string lw = " lw " + fixed(line_width(g));
  const std::string ps = " ps " + fixed(1.3 * marker_size(g));
  for (std::size_t n = 0; n < request.curves.size(); ++n) {
    const PlotCurve& c = request.curves[n];
    if (!drawn(c)) continue;
    const std::string data = "$c" + std::to_string(n) + " using " + style_of(c) + " pt " +
                             std::to_string(filled_marker(n));
    if (with_map) add(data + " ps " + fixed(1.8 * marker_size(g)) + " lw 5 lc rgb 'white' notitle");
    add(data + ps + lw + " dt " + std::to_string(dash_of(c, n)) + " " + colour(n) + " notitle");
  }
  if (request.has_level) {
    std::string level;
    append_number(level, request.level);
    add(level + " with lines dt 2 lw 1 lc rgb 'black' notitle");
  }
  return command + "\n";
}

// The frame: the title above, the key beneath (or at the right), a heat
// map's colour box at the right; in fractions of the figure.
struct Frame {
  double left, right, top, bottom;
  double key_from;  // where a key at the right may begin
};

Frame frame_of(const PlotRequest& request, const Geometry& g, const KeyLayout& key,
               std::size_t title_lines_count) {
  const double f = g.font_pt;
  const double box_pt = request.map.z.empty() ? 0 : 2.7 * f + g.text_pt(6) + g.line_pt();
  Frame frame{};
  frame.left = g.across(0.4 * f + g.line_pt() + g.text_pt(request.log_y ? 6 : 7) + 0.6 * f);
  frame.right = 1 - g.across(1.5 * f + box_pt + (key.at_right ? key.width_pt : 0));
  frame.top = 1 - g.up(static_cast<double>(title_lines_count) * g.line_pt() + 0.9 * f);
  frame.bottom = g.up((key.at_right ? 0 : key.height_pt + 0.4 * f) + 2.8 * g.line_pt());
  frame.key_from = frame.right + g.across(box_pt);
  return frame;
}

std::string margins(const PlotRequest& request, const Geometry& g, const Frame& frame) {
  std::string script = margin_lines(frame.left, frame.right, frame.top, frame.bottom);
  if (request.map.z.empty()) return script;
  return script + "set colorbox user origin screen " +
         fixed(frame.right + g.across(1.2 * g.font_pt)) + ", screen " + fixed(frame.bottom) +
         " size screen " + fixed(g.across(1.2 * g.font_pt)) + ", screen " +
         fixed(frame.top - frame.bottom) + "\n";
}

// The x range over the curves and the marks, with room at either end.
std::string x_range(const PlotRequest& request) {
  double low = INFINITY, high = -INFINITY;
  for (const std::vector<double>* xs : {&request.not_found_x, &request.stopped_x}) {
    for (const double x : *xs) low = std::min(low, x), high = std::max(high, x);
  }
  for (const PlotCurve& c : request.curves) {
    for (const double x : c.x) low = std::min(low, x), high = std::max(high, x);
    if (c.bars != Bars::along_x) continue;
    for (const double x : c.low) low = std::min(low, x);
    for (const double x : c.high) high = std::max(high, x);
  }
  if (!(high > low)) return "set autoscale xfix\n";
  const double room = request.log_x ? std::pow(high / low, 0.03) : (high - low) * 0.03;
  std::string script = "set xrange [";
  append_number(script, request.log_x ? low / room : low - room);
  script += ":";
  append_number(script, request.log_x ? high * room : high + room);
  return script + "]\n";
}

std::string axes(const PlotRequest& request) {
  std::string script = "set xlabel " + quoted(request.text.x_label) + "\nset ylabel " +
                       quoted(request.text.y_label) + "\n";
  if (request.log_x) script += "set logscale x\n";
  if (request.log_y) script += "set logscale y\n";
  script += "set format x '%g'\nset format y '%g'\n";
  if (request.map.z.empty()) {
    script += x_range(request) + "set grid\n";
    if (request.y_fraction && !request.log_y) return script + "set yrange [-0.03:1.03]\n";
    return script + "set offsets 0, 0, graph 0.08, graph 0.05\n";
  }
  script += "set autoscale xfix\n";
  script += "set autoscale yfix\nset cblabel " + quoted(request.map.z_label) + "\n";
  // Dark for low values, light for high, readable in grey too.
  return script +
         "set palette defined (0 '#000004', 0.25 '#51127c', 0.5 '#b73779', 0.75 '#fc8961', "
         "1 '#fcfdbf')\nset style fill solid 1.0 noborder\n";
}

}  // namespace

std::string curves_script(const PlotRequest& request) {
  const Geometry g = geometry_of(request.text);
  const std::vector<std::string> title =
      title_lines(request.text.title, g, g.width_pt - 2 * g.font_pt);
  const auto entries = key_entries(request, g);
  std::vector<std::string> labels;
  for (const auto& e : entries) labels.push_back(e.second);
  const KeyLayout key = key_layout(labels, g, g.width_pt - 2 * g.font_pt);
  const Frame frame = frame_of(request, g, key, title.size());
  std::string script = terminal_lines(request.format, g);
  append_curves(script, request.curves);
  if (!request.map.z.empty()) append_map(script, request);
  script += "set multiplot\nunset key\n" + title_labels(title, g) + margins(request, g, frame) +
            axes(request) + marks(request, g) + plot_command(request, g);
  return script + key_plot(key, g, frame.key_from, entries) + "unset multiplot\n";
}

}  // namespace blocklevels
