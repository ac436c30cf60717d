#include "output/plot.hpp"

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
#include "runtime/failure.hpp"

namespace blocklevels {
namespace {

// Text that reaches the script inside single quotes: only characters that
// mean nothing there, anything else replaced by '?'.
std::string quoted(const std::string& text) {
  std::string out = "'";
  for (const char c : text) {
    const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                       std::strchr(" =,._+-()/:", c) != nullptr;
    out += plain ? c : '?';
  }
  return out + "'";
}

void append_number(std::string& out, double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  out += text;
}

std::string terminal_for(const std::string& file) {
  const std::string extension = file.substr(file.rfind('.'));
  if (extension == ".png") return "pngcairo size 1100,800 font 'sans,11'";
  if (extension == ".svg") return "svg size 1100,800 font 'sans,11' background rgb 'white'";
  return "pdfcairo size 11in,8in font 'sans,11'";
}

// $m<n>: t, X_l, X_(l-1), X_(l-2), mean level; $s<n>: the same means and
// their confidence half-widths, interleaved.
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
  for (std::size_t k = 0; k < s.simulated_t.size(); ++k) {
    append_number(script, s.simulated_t[k]);
    for (int level = 0; level < 3; ++level) {
      script += ' ';
      append_number(script, s.simulated_top[level][k]);
      script += ' ';
      append_number(script, s.simulated_top_ci[level][k]);
    }
    script += ' ';
    append_number(script, s.simulated_mean_level[k]);
    script += ' ';
    append_number(script, s.simulated_mean_level_ci[k]);
    script += '\n';
  }
  script += "EOD\n";
}

// One panel's plot command. `column` is the model's column (2..5) and
// `simulated` the simulated mean's (its half-width follows it).
std::string panel(const PlotRequest& request, int top_curves, int column_of_mean) {
  const bool single = request.series.size() == 1;
  std::string command = "plot ";
  bool first = true;
  auto add = [&](const std::string& part) {
    command += (first ? "" : ", \\\n     ") + part;
    first = false;
  };
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    const PlotSeries& s = request.series[n];
    const std::string m = "$m" + std::to_string(n), sim = "$s" + std::to_string(n);
    for (int level = 0; level < top_curves; ++level) {
      if (level >= s.blocks) break;
      const int column = top_curves == 1 ? column_of_mean : 2 + level;
      const int sim_column = top_curves == 1 ? 8 : 2 + 2 * level;
      const int colour = single ? level + 1 : static_cast<int>(n) + 1;
      std::string name = top_curves == 1 ? (single ? "model" : s.label)
                                         : "at or above level " + std::to_string(s.blocks - level);
      if (!single && top_curves != 1) name = s.label;
      if (!s.simulated_t.empty()) {
        add(sim + " using 1:($" + std::to_string(sim_column) + "-$" +
            std::to_string(sim_column + 1) + "):($" + std::to_string(sim_column) + "+$" +
            std::to_string(sim_column + 1) + ") with filledcurves lc " + std::to_string(colour) +
            " fs transparent solid 0.25 notitle");
        add(sim + " using 1:" + std::to_string(sim_column) + " with points pt 7 ps 0.6 lc " +
            std::to_string(colour) + " title " +
            quoted(single && top_curves == 1 ? "simulated, with 95 % band" : name + ", simulated"));
      }
      const std::string style = request.log_x || request.x_label != "generation t"
                                    ? " with linespoints pt 7 ps 0.8 lw 2 lc "
                                    : " with lines lw 2 lc ";
      add(m + " using 1:" + std::to_string(column) + style + std::to_string(colour) + " title " +
          quoted(name));
    }
  }
  return command + "\n";
}

std::string script_for(const PlotRequest& request) {
  std::string script = "set terminal " + terminal_for(request.file) + "\nset output\n";
  script += "set termoption noenhanced\nset encoding utf8\n";
  for (std::size_t n = 0; n < request.series.size(); ++n) {
    append_data(script, n, request.series[n]);
  }
  const bool single = request.series.size() == 1;
  script += "set multiplot layout 2,1 title " + quoted(request.title) + "\n";
  // Fixed margins, so that both panels' axes line up whatever their keys.
  script += "set grid\nset lmargin at screen 0.08\nset rmargin at screen 0.72\n";
  script += "set key outside right top\nset xlabel " + quoted(request.x_label) + "\n";
  if (request.log_x) script += "set logscale x\n";
  if (request.x_label != "generation t")
    script += "set autoscale xfix\nset offsets graph 0.02, graph 0.02, 0, 0\n";
  script += "set ylabel " +
            quoted(single ? "fraction of offspring at or above the level"
                          : "fraction of offspring at the top level") +
            "\nset yrange [0:1]\n";
  script += panel(request, single ? 3 : 1, 2);
  script += "set ylabel 'mean level (expected number of complete blocks)'\n";
  script += "set autoscale y\n";
  script += panel(request, 1, 5);
  script += "unset multiplot\n";
  return script;
}

// One panel of curves, over a heat map when there is one.
std::string curves_script(const PlotRequest& request) {
  std::string script = "set terminal " + terminal_for(request.file) + "\nset output\n";
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
  // Curves in distinct colours and dashes, white-edged over a map.
  for (std::size_t n = 0; n < request.curves.size(); ++n) {
    const PlotCurve& c = request.curves[n];
    const std::string colour = std::to_string(n % 8 + 1);
    const std::string using_ = " using 1:2";
    if (with_map) {
      add("$c" + std::to_string(n) + using_ +
          " with linespoints pt 7 ps 1.1 lw 5 lc rgb 'white' notitle");
    }
    add("$c" + std::to_string(n) + using_ +
        (c.points_only ? " with points pt 7 ps 1.2 lc " + colour
                       : " with linespoints pt 7 ps 0.7 lw 2 dt " + std::to_string(n % 5 + 1) +
                             " lc " + colour) +
        " title " + quoted(c.label));
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
  script += "set key outside right top\nset offsets graph 0.02, graph 0.02, 0, 0\n";
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
    throw runtime::Failure(runtime::kOutputRefused, "--plot: " + what);
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
