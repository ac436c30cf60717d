#include "figures/plot.hpp"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/child_processes.hpp"
#include "runtime/descriptors.hpp"
#include "errors/failure.hpp"

namespace blocklevels {
namespace {

// Text as a gnuplot string in single quotes, where only the quote itself
// is special (doubled); the figures are drawn without enhanced text, so
// that every printable character stands for itself. Control characters,
// which would end the script's line, become spaces.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    if (c == '\'') {
      out += "''";
    } else {
      out += static_cast<unsigned char>(c) < 0x20 || c == 0x7f ? ' ' : c;
    }
  }
  return out + "'";
}

void append_number(std::string& out, double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  out += text;
}

// Seven colours told apart with any colour vision and in grey, none pale
// on white; each curve also has its own dash and marker.
constexpr const char* kColours[] = {"#0072b2", "#d55e00", "#009e73", "#cc79a7",
                                    "#e69f00", "#56b4e9", "#000000"};
constexpr int kMarkers[] = {7, 5, 9, 11, 13, 15};

std::string style(std::size_t n) {
  return "lc rgb '" + std::string(kColours[n % 7]) + "' dt " + std::to_string(n % 5 + 1) + " pt " +
         std::to_string(kMarkers[n % 6]);
}

// Lines and markers wider the earlier the curve, so that a curve drawn
// over an equal one leaves it showing as an outline around itself.
std::string widths(std::size_t n, std::size_t curves, double scale = 1.0) {
  const double wider = static_cast<double>(std::min<std::size_t>(curves - 1 - n, 4));
  char text[48];
  std::snprintf(text, sizeof text, " lw %.2f ps %.2f", (1.5 + 0.7 * wider) * scale,
                (0.8 + 0.3 * wider) * scale);
  return text;
}

// Lines and markers of a small figure thinner, in proportion, down to half.
double scale_of(const PlotRequest& request) {
  return std::clamp(request.width_in / 7.0, 0.5, 1.0);
}

std::string colour(std::size_t n) {
  return "lc rgb '" + std::string(kColours[n % 7]) + "'";
}

std::string terminal_for(const PlotRequest& request) {
  const std::string& file = request.file;
  const std::string extension = file.substr(file.rfind('.'));
  // A paper column's figure has a smaller font than a screen's.
  const int font = request.width_in < 7 ? 8 : 11;
  const std::string f = " font 'sans," + std::to_string(font) + "'";
  char size[64];
  if (extension == ".pdf") {
    std::snprintf(size, sizeof size, "%gin,%gin", request.width_in, request.height_in);
    return "pdfcairo size " + std::string(size) + f;
  }
  std::snprintf(size, sizeof size, "%d,%d", static_cast<int>(request.width_in * 100 + 0.5),
                static_cast<int>(request.height_in * 100 + 0.5));
  if (extension == ".png") return "pngcairo size " + std::string(size) + f;
  return "svg size " + std::string(size) + f + " background rgb 'white'";
}

// $m<n>: t, X_l, X_(l-1), X_(l-2), mean level. $s<n>: t, then for each of
// X_l, X_(l-1), X_(l-2) and the mean level the simulated mean and its 95 %
// band's lower and upper ends, clipped to what the value can be (a
// fraction to [0, 1], the mean level to [0, l]).
void append_data(std::string& script, std::size_t n, const PlotSeries& s) {
  script += "$m" + std::to_string(n) + " << EOD\n";
  for (std::size_t k = 0; k < s.t.size(); ++k) {
    for (const double v : {s.t[k], s.top[0][k], s.top[1][k], s.top[2][k], s.mean_level[k]}) {
      append_number(script, v);
      script += ' ';
    }
    script += '\n';
  }
  script += "EOD\n$s" + std::to_string(n) + " << EOD\n";
  const auto band = [&script](double mean, double half_width, double most) {
    const double h = half_width == half_width ? half_width : 0.0;
    for (const double v : {mean, std::max(0.0, mean - h), std::min(most, mean + h)}) {
      script += ' ';
      append_number(script, v);
    }
  };
  for (std::size_t k = 0; k < s.simulated_t.size(); ++k) {
    append_number(script, s.simulated_t[k]);
    for (int level = 0; level < 3; ++level) {
      band(s.simulated_top[level][k], s.simulated_top_ci[level][k], 1.0);
    }
    band(s.simulated_mean_level[k], s.simulated_mean_level_ci[k], s.blocks);
    script += '\n';
  }
  script += "EOD\n";
}

// The plot command of one panel, and the key's entries. The top panel
// shows X_l, X_(l-1), X_(l-2) of a single point, or X_l of each point;
// the bottom one the mean level. `keyed` adds the entries to the key (the
// top panel's; the bottom panel's curves are entered there too, as curves
// of no points, when they differ from the top's).
std::string panel(const PlotRequest& request, bool top, bool keyed) {
  const bool single = request.series.size() == 1;
  std::string command;
  auto add = [&](const std::string& part) {
    command += (command.empty() ? "plot " : ", \\\n     ") + part;
  };
  const bool across = request.x_label != "generation t";
  std::size_t curve = 0;
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    const PlotSeries& s = request.series[n];
    const std::string m = "$m" + std::to_string(n), sim = "$s" + std::to_string(n);
    const int levels = top ? (single ? 3 : 1) : 1;
    for (int level = 0; level < levels; ++level, ++curve) {
      if (top && level >= s.blocks) break;
      const int column = top ? 2 + level : 5;
      const int sim_column = top ? 2 + 3 * level : 11;
      // The single point's mean level has a style of its own, after its levels'.
      const std::size_t look = single ? (top ? static_cast<std::size_t>(level) : 3) : n;
      std::string name =
          single ? (top ? "at or above level " + std::to_string(s.blocks - level) : "mean level")
                 : s.label;
      const bool titled = keyed && top;
      // Markers where the curve has few points, else a few along it.
      const std::size_t points = s.t.size();
      const std::string every =
          points > 24 ? " pi -" + std::to_string(std::max<std::size_t>(1, points / 8)) : "";
      if (!s.simulated_t.empty()) {
        add(sim + " using 1:" + std::to_string(sim_column + 1) + ":" +
            std::to_string(sim_column + 2) + " with filledcurves " + colour(look) +
            " fs transparent solid 0.3 noborder notitle");
        // A band's edges, so that a narrow band still shows; not where
        // several points' bands overlap.
        for (const int edge : {1, 2}) {
          if (!single) break;
          add(sim + " using 1:" + std::to_string(sim_column + edge) + " with lines lw 0.8 " +
              colour(look) + " notitle");
        }
      }
      add(m + " using 1:" + std::to_string(column) + " with linespoints" +
          widths(single ? (top ? static_cast<std::size_t>(level) : 0) : n,
                 single ? (top ? 3 : 1) : request.series.size(), scale_of(request)) +
          every + " " + style(look) + " title " + (titled ? quoted(name) : std::string("''")));
      if (!s.simulated_t.empty()) {
        // The simulated means over the model's curve, as open circles.
        add(sim + " using 1:" + std::to_string(sim_column) + " with points pt 6 ps 0.9 lw 1.5 " +
            colour(look) + " title " +
            (titled ? quoted(name + ", simulated (95 % band)") : std::string("''")));
      }
      (void)across;
    }
  }
  if (top && keyed && single) {
    // The mean level's entries, for the key the panels share.
    const PlotSeries& s = request.series[0];
    add("NaN with linespoints" + widths(0, 1, scale_of(request)) + " " + style(3) +
        " title 'mean level'");
    if (!s.simulated_t.empty()) {
      add("NaN with points pt 6 ps 0.9 lw 1.5 " + colour(3) + " title " +
          quoted("mean level, simulated (95 % band)"));
    }
  }
  return command + "\n";
}

// The number of entries in the shared key.
std::size_t key_entries(const PlotRequest& request) {
  const bool single = request.series.size() == 1;
  std::size_t entries = 0;
  for (const PlotSeries& s : request.series) {
    const std::size_t curves = single ? static_cast<std::size_t>(std::min(s.blocks, 3)) + 1 : 1;
    entries += curves * (s.simulated_t.empty() ? 1 : 2);
  }
  return entries;
}

// Two panels sharing their x axis and one key beneath them.
std::string script_for(const PlotRequest& request) {
  std::string script = "set terminal " + terminal_for(request) + "\nset output\n";
  script += "set termoption noenhanced\nset encoding utf8\n";
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    append_data(script, n, request.series[n]);
  }
  const bool single = request.series.size() == 1;
  // As many columns of entries as their longest label leaves room for, at
  // most three: a character about 0.55 of the font's height wide, and the
  // line sample beside it.
  std::size_t longest = 0;
  for (const PlotSeries& series : request.series) {
    longest =
        std::max(longest, (single ? std::string("at or above level 1000") : series.label).size());
  }
  longest += std::string(", simulated (95 % band)").size();
  const double font_px = (request.width_in < 7 ? 8.0 : 11.0) * 100.0 / 72.0;
  const double column_px = static_cast<double>(longest + 2) * 0.55 * font_px + 5 * font_px;
  const std::size_t columns =
      static_cast<std::size_t>(std::clamp(0.9 * request.width_in * 100.0 / column_px, 1.0, 3.0));
  const std::size_t rows = (key_entries(request) + columns - 1) / columns;
  // The key's height as a share of the figure: a row of text and a gap.
  const double row = (request.width_in < 7 ? 10.0 : 14.0) / (request.height_in * 72.0) * 1.2;
  const double key_top = 0.015 + static_cast<double>(rows) * row;
  char margins[256];
  std::snprintf(margins, sizeof margins,
                "set lmargin at screen %.3f\nset rmargin at screen 0.95\n"
                "set tmargin at screen 0.92\nset bmargin at screen %.4f\n",
                request.width_in < 7 ? 0.16 : 0.1, 0.56 + key_top / 2);
  script += "set multiplot title " + quoted(request.title) + "\n";
  script += "set grid\nset xlabel " + quoted(request.x_label) + "\n";
  if (request.log_x) script += "set logscale x\nset format x '%g'\n";
  if (request.x_label != "generation t")
    script += "set autoscale xfix\nset offsets graph 0.02, graph 0.02, 0, 0\n";
  script += margins;
  script += "set key at screen 0.5, 0.01 center bottom vertical maxrows " + std::to_string(rows) +
            " width 2 samplen 4\n";
  script += "set ylabel " +
            quoted(single ? "fraction at or above the level" : "fraction at the top level") + "\n";
  // Every curve inside the frame: fractions on [0, 1] with a margin, or on
  // a log scale up to 1.
  if (request.log_y) {
    script += "set logscale y\nset format y '%g'\nset yrange [*:1.5]\n";
  } else {
    script += "set yrange [-0.03:1.03]\nset ytics 0, 0.2, 1\n";
  }
  script += "unset xlabel\n";
  script += panel(request, true, true);
  // The mean level's panel, its entries in the top panel's key.
  std::snprintf(margins, sizeof margins, "set tmargin at screen %.4f\nset bmargin at screen %.4f\n",
                0.49 + key_top / 2, key_top + 0.07);
  script += margins;
  script += "unset key\nunset logscale y\nset format y '%g'\nset ytics autofreq\n";
  script += "set xlabel " + quoted(request.x_label) + "\n";
  script += "set ylabel 'mean level (complete blocks)'\n";
  // The mean level is at least 0: the frame starts there, with room above.
  script += "set yrange [0:*]\n";
  script += request.x_label == "generation t"
                ? "set offsets 0, 0, graph 0.05, 0\n"
                : "set offsets graph 0.02, graph 0.02, graph 0.05, 0\n";
  script += panel(request, false, false);
  script += "unset multiplot\n";
  return script;
}

// One panel of curves, over a heat map when there is one.
std::string curves_script(const PlotRequest& request) {
  std::string script = "set terminal " + terminal_for(request) + "\nset output\n";
  script += "set termoption noenhanced\nset encoding utf8\n";
  for (std::size_t n = 0; n < request.curves.size(); ++n) {
    const PlotCurve& c = request.curves[n];
    script += "$c" + std::to_string(n) + " << EOD\n";
    for (std::size_t k = 0; k < c.x.size(); ++k) {
      append_number(script, c.x[k]);
      script += ' ';
      append_number(script, c.y[k]);
      script += '\n';
    }
    script += "EOD\n";
  }
  const PlotMap& map = request.map;
  const bool with_map = !map.z.empty();
  if (with_map) {
    // Each value fills the cell around its point, to halfway to its
    // neighbours (in logarithm on a log axis); the outer cells as wide as
    // their inner halves.
    const auto cells = [](const std::vector<double>& at, bool log) {
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
      return std::pair(v, bounds);
    };
    const auto [xs, x_bounds] = cells(map.x, request.log_x);
    const auto [ys, y_bounds] = cells(map.y, request.log_y);
    // Drawn in order of x, then y, each cell reaching halfway over the
    // cells above and to the right of it, which are drawn after it and
    // cover that half again: no seam of the background shows between them.
    std::vector<std::size_t> order(map.z.size());
    for (std::size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::sort(order.begin(), order.end(), [&map](std::size_t a, std::size_t b) {
      return map.x[a] != map.x[b] ? map.x[a] < map.x[b] : map.y[a] < map.y[b];
    });
    const auto over_next = [](const std::vector<double>& bounds, std::size_t i, bool log) {
      if (i + 2 >= bounds.size()) return bounds[i + 1];
      return log ? std::sqrt(bounds[i + 1] * bounds[i + 2]) : (bounds[i + 1] + bounds[i + 2]) / 2;
    };
    script += "$map << EOD\n";
    for (const std::size_t k : order) {
      const auto i =
          static_cast<std::size_t>(std::lower_bound(xs.begin(), xs.end(), map.x[k]) - xs.begin());
      const auto j =
          static_cast<std::size_t>(std::lower_bound(ys.begin(), ys.end(), map.y[k]) - ys.begin());
      for (const double v : {map.x[k], map.y[k], x_bounds[i], over_next(x_bounds, i, request.log_x),
                             y_bounds[j], over_next(y_bounds, j, request.log_y), map.z[k]}) {
        append_number(script, v);
        script += ' ';
      }
      script += '\n';
    }
    script += "EOD\n";
  }
  script += "set title " + quoted(request.title) + "\n";
  script +=
      "set xlabel " + quoted(request.x_label) + "\nset ylabel " + quoted(request.y_label) + "\n";
  if (request.log_x) script += "set logscale x\nset format x '%g'\n";
  if (request.log_y) script += "set logscale y\nset format y '%g'\n";
  script += with_map ? "set autoscale xfix\n" : "set autoscale xfix\nset grid\n";
  std::string command;
  auto add = [&command](const std::string& part) {
    command += (command.empty() ? "" : ", \\\n     ") + part;
  };
  // Curves in distinct colours, dashes and markers, white-edged over a map.
  for (std::size_t n = 0; n < request.curves.size(); ++n) {
    const PlotCurve& c = request.curves[n];
    const std::string data = "$c" + std::to_string(n) + " using 1:2";
    if (with_map) {
      add(data + " with " + (c.points_only ? "points" : "linespoints") + " pt " +
          std::to_string(kMarkers[n % 6]) + " ps 1.4 lw 5 lc rgb 'white' notitle");
    }
    add(data +
        (c.points_only
             ? " with points ps 1.1 "
             : " with linespoints" + widths(n, request.curves.size(), scale_of(request)) + " ") +
        style(n) + " title " + quoted(c.label));
  }
  if (with_map) {
    script += "set cblabel " + quoted(map.z_label) + "\n";
    // Dark for low values, light for high, readable in grey too.
    script +=
        "set palette defined (0 '#000004', 0.25 '#51127c', 0.5 '#b73779', 0.75 '#fc8961', "
        "1 '#fcfdbf')\n";
    script += "set autoscale yfix\nset key outside top center horizontal\n";
    script += "set style fill solid 1.0 noborder\n";
    return script + "plot $map using 1:2:3:4:5:6:7 with boxxyerror lc palette notitle" +
           (command.empty() ? "" : ", \\\n     " + command) + "\n";
  }
  script += "set key outside top center horizontal\nset offsets graph 0.02, graph 0.02, 0, 0\n";
  if (request.has_level) {
    std::string level;
    append_number(level, request.level);
    add(level + " with lines dt 2 lw 1 lc rgb 'black' title " + quoted(request.level_label));
  }
  return script + "plot " + command + "\n";
}

bool executable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) &&
         ::access(path.c_str(), X_OK) == 0;
}

}  // namespace

std::string find_gnuplot() {
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/bin:/bin";
  for (std::size_t from = 0; from <= dirs.size();) {
    std::size_t colon = dirs.find(':', from);
    if (colon == std::string::npos) colon = dirs.size();
    const std::string dir = dirs.substr(from, colon - from);
    const std::string candidate = (dir.empty() ? "." : dir) + "/gnuplot";
    if (executable(candidate)) return candidate;
    from = colon + 1;
  }
  return "";
}

void draw_plot(const std::string& gnuplot, const PlotRequest& request, int file) {
  const auto fail = [](const std::string& what) {
    throw Failure(kOutputRefused, "--plot: " + what);
  };
  int script_pipe[2], error_pipe[2];
  if (::pipe2(script_pipe, O_CLOEXEC) != 0 || ::pipe2(error_pipe, O_CLOEXEC) != 0) {
    fail(std::strerror(errno));
  }
  // Above the standard descriptors, so that the moves below cannot clobber
  // one another when the caller has closed a standard stream.
  for (int* fd : {&script_pipe[0], &script_pipe[1], &error_pipe[0], &error_pipe[1]}) {
    *fd = runtime::above_standard(*fd);
    if (*fd < 0) fail(std::strerror(errno));
  }
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    ::dup2(script_pipe[0], STDIN_FILENO);
    ::dup2(file, STDOUT_FILENO);
    ::dup2(error_pipe[1], STDERR_FILENO);
    ::signal(SIGPIPE, SIG_DFL);
    ::execl(gnuplot.c_str(), "gnuplot", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(script_pipe[0]);
  ::close(error_pipe[1]);
  const std::string script =
      request.kind == FigureKind::levels ? script_for(request) : curves_script(request);
  for (std::size_t done = 0; done < script.size();) {
    const ssize_t n = ::write(script_pipe[1], script.data() + done, script.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  ::close(script_pipe[1]);
  std::string errors;
  char chunk[4096];
  for (ssize_t n; (n = ::read(error_pipe[0], chunk, sizeof chunk)) != 0;) {
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) break;
    errors.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(error_pipe[0]);
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  runtime::remove_child_process(pid);
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return;
  fail("gnuplot failed" + (errors.empty() ? std::string() : ": " + errors));
}

}  // namespace blocklevels
