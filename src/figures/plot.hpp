// Figures of a study, drawn by gnuplot run as a child process and fed the
// script and the data on its standard input. The figure's file is opened
// here and given to gnuplot as its standard output, so that no file name
// ever reaches the script; the script holds only numbers and fixed words.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace blocklevels {

// One curve set: its label (the swept parameters' values, or "" for a
// single run) and, per report time (or per value of a swept parameter), the
// three highest levels' fractions and the mean level; the simulation's means
// and confidence half-widths when it was simulated.
struct PlotSeries {
  std::string label;
  std::int32_t blocks = 0;
  std::vector<double> t;
  std::vector<double> top[3];  // X_l, X_(l-1), X_(l-2)
  std::vector<double> mean_level;
  std::vector<double> simulated_t;
  std::vector<double> simulated_top[3];
  std::vector<double> simulated_top_ci[3];
  std::vector<double> simulated_mean_level;
  std::vector<double> simulated_mean_level_ci;
};

// A curve y(x) of a one-panel figure: drawn as points joined by lines, or
// as points alone.
struct PlotCurve {
  std::string label;
  std::vector<double> x, y;
  bool points_only = false;
};

// A heat map: z at (x[i], y[i]), ordered by x and then y, with the same
// number of y values for every x.
struct PlotMap {
  std::vector<double> x, y, z;
  std::string z_label;
};

enum class FigureKind {
  levels,  // two panels of `series`: the top levels, the mean level
  curves,  // one panel of `curves`, over `map` when it has values
};

struct PlotRequest {
  FigureKind kind = FigureKind::levels;
  std::string file;   // ends in .png, .svg or .pdf
  std::string title;  // the parameters all points share
  // The series' `t` is the generation, or, for a figure of final values,
  // the swept parameter named here.
  std::string x_label = "generation t";
  bool log_x = false;
  std::vector<PlotSeries> series;
  // FigureKind::curves: its y axis, its curves, a dashed level line.
  std::string y_label;
  bool log_y = false;                   // also the levels figure's fractions
  double width_in = 11, height_in = 8;  // PNG and SVG at 100 pixels an inch
  std::vector<PlotCurve> curves;
  PlotMap map;
  bool has_level = false;
  double level = 0;
  std::string level_label;
};

// The path of the gnuplot program found on PATH, or "" when there is none.
std::string find_gnuplot();

// Draws the figure into `figure` (a file open for writing; request.file's
// extension chooses the format). A failure throws Failure (status
// 1) saying what went wrong.
void draw_plot(const std::string& gnuplot, const PlotRequest& request, int figure);

}  // namespace blocklevels
