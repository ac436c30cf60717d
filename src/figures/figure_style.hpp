// The look every figure shares: its size and font in printed points, the
// terminal line, the curves' colours, dashes and markers, text quoted for
// gnuplot, numbers as data, the title broken into lines and the key laid
// out in rows and columns. The geometry works in points of the printed
// figure, so that a PNG, an SVG and a PDF of one size are laid out alike:
// PNG and SVG are 100 pixels an inch, their font given in pixels.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "figures/plot.hpp"

namespace blocklevels::figure_style {

struct Geometry {
  double width_pt = 0, height_pt = 0;
  double font_pt = 0;  // the figure's font, in printed points
  // An estimate of a character's width and of a line's height, in points;
  // on the generous side, so that text laid out by them fits.
  double char_pt() const { return 0.62 * font_pt; }
  double line_pt() const { return 1.25 * font_pt; }
  double key_row_pt() const { return 1.2 * font_pt; }
  // Points as fractions of the figure (gnuplot's "screen" coordinates).
  double across(double pt) const { return pt / width_pt; }
  double up(double pt) const { return pt / height_pt; }
  double text_pt(std::size_t characters) const {
    return static_cast<double>(characters) * char_pt();
  }
};

// From 7 points at a paper column's width (3.5 in) to 11 from 8 in on,
// times the font scale.
Geometry geometry_of(const FigureText& text);

// "set terminal ...", "set output" and the text settings, each a line
// (the PDF's fonts at their size: pdfcairo halves them unless told).
std::string terminal_lines(const std::string& format, const Geometry& geometry);

// Text as a gnuplot string in single quotes (only the quote is special,
// doubled); control characters, which would end the script's line, become
// spaces. The figures are drawn without enhanced text, so that every
// printable character stands for itself.
std::string quoted(const std::string& text);

// The shortest text that reads back to the same double ("NaN" for none).
void append_number(std::string& out, double v);

// A setting's number, with four decimals (a fraction of the figure, a
// width): a ten-thousandth of the figure is below a pixel.
std::string fixed(double v);

// The panel's margins at these fractions of the figure, four lines.
std::string margin_lines(double left, double right, double top, double bottom);

// Curve n's colour, dash, open marker and filled marker: 12 colours told
// apart with any colour vision and in grey, none pale on white, so that
// up to 12 curves each have their own; the dash and the marker cycle
// through 5 and 6 of their own beside them.
std::string colour(std::size_t n);  // "lc rgb '#0072b2'"
int dash(std::size_t n);
int open_marker(std::size_t n);
int filled_marker(std::size_t n);
inline constexpr std::size_t kColours = 12;

// A line's width and a marker's size, in gnuplot's units, for the font.
double line_width(const Geometry& geometry);
double marker_size(const Geometry& geometry);

// The title in lines that each fit `width_pt`, broken after a ", ".
std::vector<std::string> title_lines(const std::string& title, const Geometry& geometry,
                                     double width_pt);
// The title's lines as labels centred at the top of the figure; the
// labels are numbered from 1 and must be unset after the first plot.
std::string title_labels(const std::vector<std::string>& lines, const Geometry& geometry);

// The key: its entries in `columns` columns of `rows` rows, beneath the
// panels. When that would take more than a fifth of the figure's height,
// labels of the form "lambda=20, pmut=0.01" shed their names into the
// key's title ("lambda, pmut"; entries "20, 0.01"), and if that is not
// enough the key stands in one column at the panels' right (when they
// keep more than half the width).
struct KeyLayout {
  std::size_t columns = 1, rows = 0;  // rows of entries, the title's not counted
  bool at_right = false;
  double width_pt = 0, height_pt = 0;  // the whole key
  std::string title;                   // "" for none
  std::vector<std::string> labels;     // the entries' labels as drawn
};
inline constexpr int kSampleLength = 3;  // a line sample, in characters
KeyLayout key_layout(const std::vector<std::string>& labels, const Geometry& geometry,
                     double width_pt);
// The key as a plot of its own over the whole figure (a plot's key is
// cut to the plot's height), below the panels or beside them, right of
// `panels_right` (a fraction of the width): each entry a keyentry plot
// with the key's label for it. Ends the panels' settings (axes, labels,
// grid).
std::string key_plot(const KeyLayout& key, const Geometry& geometry, double panels_right,
                     const std::vector<std::pair<std::string, std::string>>& entries);

// Tics for [0, most]: a step of 1, 2 or 5 times a power of ten giving at
// most `count` intervals.
double tic_step(double most, int count);

}  // namespace blocklevels::figure_style
