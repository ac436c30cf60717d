// Figures of a study, drawn by gnuplot run as a child process and fed the
// script and the data on its standard input. The figure's file is opened
// by the caller and given to gnuplot as its standard output, so that no
// file name ever reaches the script; the script holds only numbers, fixed
// words and the labels, quoted.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace blocklevels {

// One curve set: its label (the swept parameters' values, or "" for a
// single run) and, per report time (or per value of a swept parameter),
// the fractions at or above each level drawn and the mean level; the
// simulation's means and 95 % half-widths when it was simulated (at report
// times that are also the model's).
struct PlotSeries {
  std::string label;
  std::int32_t blocks = 0;
  std::vector<std::string> level_names;  // per level drawn: "level 20"
  std::vector<double> t;
  std::vector<std::vector<double>> fraction;  // [level drawn][report]
  std::vector<double> mean_level;
  std::vector<double> simulated_t;
  std::vector<std::vector<double>> simulated_fraction, simulated_fraction_ci;
  std::vector<double> simulated_mean_level;
  std::vector<double> simulated_mean_level_ci;
};

// A curve y(x) of a one-panel figure: drawn as points joined by lines, or
// as points alone; points alone may carry a bar from `low` to `high` along
// y or along x (an interval of the answer).
enum class Bars { none, along_x, along_y };

struct PlotCurve {
  std::string label;
  std::vector<double> x, y;
  bool points_only = false;
  Bars bars = Bars::none;
  std::vector<double> low = {}, high = {};  // per point, with bars
};

// A heat map: z at (x[i], y[i]), ordered by x and then y, with the same
// number of y values for every x.
struct PlotMap {
  std::vector<double> x, y, z;
  std::string z_label;
};

enum class FigureKind {
  levels,  // panels of `series`: the levels' fractions, the mean level, the model check
  curves,  // one panel of `curves`, over `map` when it has values
};

// What a figure shows in words, and its size and fonts.
struct FigureText {
  std::string title;  // the parameters all points share
  std::string x_label = "generation t";
  std::string y_label;                  // the first panel's
  double width_in = 11, height_in = 8;  // PNG and SVG at 100 pixels an inch
  double font_scale = 1;
};

struct PlotRequest {
  FigureKind kind = FigureKind::levels;
  std::string format;  // "png", "svg" or "pdf"
  FigureText text;
  // The series' `t` is the generation (over_time), or, for a figure of
  // final values, the swept parameter named in x_label.
  bool over_time = true;
  bool log_x = false;
  bool log_y = false;       // the fractions' panel, or the curves' y axis
  bool y_fraction = false;  // FigureKind::curves: y is a fraction, on [0, 1]
  std::vector<PlotSeries> series;
  // A single simulated point: a third panel, simulation minus model.
  bool model_check = false;
  // FigureKind::curves: its curves, a dashed level line, the x values
  // where nothing was found (a search that does not cross, a point that
  // stopped), each with its key entry.
  std::vector<PlotCurve> curves;
  PlotMap map;
  bool has_level = false;
  double level = 0;
  std::string level_label;
  std::vector<double> not_found_x, stopped_x;
};

// The path of the gnuplot program found on PATH, or "" when there is none.
std::string find_gnuplot();

// The script gnuplot is given for `request`, data included.
std::string plot_script(const PlotRequest& request);

// Draws the figure into `figure` (a file open for writing). A failure
// throws Failure (status 1) saying what went wrong. gnuplot starts with its
// default settings (-d: no initialisation file is read, so that nothing
// but the script shapes the figure's bytes). An interrupt the process has
// deferred (a study's) ends gnuplot and then the process by that signal,
// which removes the figure's draft (runtime/draft_file.hpp).
void draw_plot(const std::string& gnuplot, const PlotRequest& request, int figure);

}  // namespace blocklevels
