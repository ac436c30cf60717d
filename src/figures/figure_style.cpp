#include "figures/figure_style.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <utility>

namespace blocklevels::figure_style {
namespace {

constexpr const char* kColourNames[kColours] = {"#0072b2", "#d55e00", "#009e73", "#cc79a7",
                                                "#e69f00", "#56b4e9", "#000000", "#882255",
                                                "#117733", "#332288", "#999933", "#aa4499"};
// gnuplot's open circle, square, triangle, diamond, inverted triangle and
// pentagon; each filled one is the next number.
constexpr int kOpenMarkers[] = {6, 4, 8, 12, 10, 14};

std::string formatted(const char* format, double a, double b = 0) {
  char text[96];
  std::snprintf(text, sizeof text, format, a, b);
  return text;
}

}  // namespace

Geometry geometry_of(const FigureText& text) {
  Geometry g;
  g.width_pt = text.width_in * 72;
  g.height_pt = text.height_in * 72;
  const double base = std::clamp(7 + (text.width_in - 3.5) * 4 / 4.5, 7.0, 11.0);
  g.font_pt = base * text.font_scale;
  return g;
}

std::string terminal_lines(const std::string& format, const Geometry& geometry) {
  // The cairo terminals take a point as 1/96 in: a PDF's font is scaled by
  // 72/96 to its printed size, a PNG's (100 pixels an inch) by 100/96. An
  // SVG's font size is in its own units, 100 an inch.
  std::string line;
  if (format == "pdf") {
    line = "pdfcairo size " +
           formatted("%gin,%gin", geometry.width_pt / 72, geometry.height_pt / 72) +
           " font 'sans," + formatted("%.2f", geometry.font_pt) + "' fontscale 0.75";
  } else {
    const double px = 100.0 / 72;
    const std::string size =
        formatted("%.0f,%.0f", geometry.width_pt * px, geometry.height_pt * px);
    const double font = geometry.font_pt * (format == "png" ? 100.0 / 96 : px);
    line = (format == "png" ? "pngcairo size " : "svg size ") + size + " font 'sans," +
           formatted("%.2f", font) + "'";
    if (format == "svg") line += " background rgb 'white'";
  }
  return "set terminal " + line + "\nset output\nset termoption noenhanced\nset encoding utf8\n";
}

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
  if (v != v) {
    out += "NaN";
    return;
  }
  char text[32];
  std::snprintf(text, sizeof text, "%.17g", v);
  out += text;
}

std::string fixed(double v) {
  char text[32];
  std::snprintf(text, sizeof text, "%.4f", v);
  return text;
}

std::string margin_lines(double left, double right, double top, double bottom) {
  return "set lmargin at screen " + fixed(left) + "\nset rmargin at screen " + fixed(right) +
         "\nset tmargin at screen " + fixed(top) + "\nset bmargin at screen " + fixed(bottom) +
         "\n";
}

std::string colour(std::size_t n) {
  return "lc rgb '" + std::string(kColourNames[n % kColours]) + "'";
}

int dash(std::size_t n) {
  return static_cast<int>(n % 5) + 1;
}

int open_marker(std::size_t n) {
  return kOpenMarkers[n % 6];
}

int filled_marker(std::size_t n) {
  return kOpenMarkers[n % 6] + 1;
}

double line_width(const Geometry& geometry) {
  return 1.5 * geometry.font_pt / 11;
}

double marker_size(const Geometry& geometry) {
  return 0.8 * geometry.font_pt / 11;
}

std::vector<std::string> title_lines(const std::string& title, const Geometry& geometry,
                                     double width_pt) {
  std::vector<std::string> lines;
  if (title.empty()) return lines;
  const auto most = static_cast<std::size_t>(std::max(8.0, width_pt / geometry.char_pt()));
  std::string line;
  for (std::size_t from = 0; from < title.size();) {
    std::size_t end = title.find(", ", from);
    end = end == std::string::npos ? title.size() : end + 2;
    const std::string part = title.substr(from, end - from);
    if (!line.empty() && line.size() + part.size() > most + 2) {
      lines.push_back(line.substr(0, line.size() - (line.ends_with(", ") ? 2 : 0)));
      line.clear();
    }
    line += part;
    from = end;
  }
  lines.push_back(line);
  return lines;
}

std::string title_labels(const std::vector<std::string>& lines, const Geometry& geometry) {
  std::string script;
  for (std::size_t n = 0; n < lines.size(); ++n) {
    const double y = 1 - geometry.up(0.4 * geometry.font_pt +
                                     (static_cast<double>(n) + 0.8) * geometry.line_pt());
    script += "set label " + std::to_string(n + 1) + " " + quoted(lines[n]) + " at screen 0.5, " +
              formatted("%.4f", y) + " center\n";
  }
  return script;
}

namespace {

// "lambda=20, pmut=0.01" as its names and its values; nothing for a label
// of another form.
std::optional<std::pair<std::string, std::string>> named_values(const std::string& label) {
  std::string names, values;
  for (std::size_t from = 0; from < label.size();) {
    std::size_t end = label.find(", ", from);
    if (end == std::string::npos) end = label.size();
    const std::string part = label.substr(from, end - from);
    const std::size_t equals = part.find('=');
    if (equals == std::string::npos || equals == 0) return std::nullopt;
    names += (names.empty() ? "" : ", ") + part.substr(0, equals);
    values += (values.empty() ? "" : ", ") + part.substr(equals + 1);
    from = end + 2;
  }
  if (names.empty()) return std::nullopt;
  return std::pair(names, values);
}

// The labels with their common names taken out into `title`, when every
// label of the form "name=value, ..." has the same names (the others are
// kept as they are).
bool factor(std::vector<std::string>& labels, std::string& title) {
  std::vector<std::string> factored = labels;
  std::string names;
  for (std::string& label : factored) {
    const auto split = named_values(label);
    if (!split) continue;
    if (!names.empty() && split->first != names) return false;
    names = split->first;
    label = split->second;
  }
  if (names.empty()) return false;
  labels = std::move(factored);
  title = names;
  return true;
}

// The key in as many columns as fit `width_pt`, as few as its rows need.
void arrange(KeyLayout& key, const Geometry& geometry, double width_pt) {
  std::size_t longest = key.title.size() > 3 ? key.title.size() - 3 : 0;
  for (const std::string& label : key.labels) longest = std::max(longest, label.size());
  const double entry_pt = geometry.text_pt(longest + kSampleLength + 3);
  const std::size_t n = key.labels.size();
  key.columns = std::clamp<std::size_t>(static_cast<std::size_t>(width_pt / entry_pt), 1, n);
  key.rows = (n + key.columns - 1) / key.columns;
  key.columns = (n + key.rows - 1) / key.rows;
  key.width_pt = static_cast<double>(key.columns) * entry_pt;
  key.height_pt =
      static_cast<double>(key.rows + (key.title.empty() ? 0 : 1)) * geometry.key_row_pt();
}

}  // namespace

KeyLayout key_layout(const std::vector<std::string>& labels, const Geometry& geometry,
                     double width_pt) {
  KeyLayout key;
  key.labels = labels;
  if (labels.empty()) return key;
  const double most = geometry.height_pt / 5 - 0.4 * geometry.font_pt;
  arrange(key, geometry, width_pt);
  if (key.height_pt <= most) return key;
  if (factor(key.labels, key.title)) arrange(key, geometry, width_pt);
  if (key.height_pt <= most) return key;
  // In one column at the right, when the panels keep more than half the
  // width.
  KeyLayout right = key;
  arrange(right, geometry, 0);
  if (right.width_pt + 3 * geometry.font_pt < 0.45 * geometry.width_pt) {
    right.at_right = true;
    return right;
  }
  return key;
}

std::string key_plot(const KeyLayout& key, const Geometry& geometry, double panels_right,
                     const std::vector<std::pair<std::string, std::string>>& entries) {
  if (entries.empty()) return "";
  std::string script =
      "set lmargin at screen 0\nset rmargin at screen 1\nset tmargin at screen 1\n"
      "set bmargin at screen 0\nunset border\nunset tics\nunset xlabel\nunset ylabel\n"
      "unset label\nunset grid\nunset logscale\nunset colorbox\nset xrange [0:1]\n"
      "set yrange [0:1]\nset offsets 0, 0, 0, 0\n";
  const std::string common =
      " maxrows " + std::to_string(key.rows) + " samplen " + std::to_string(kSampleLength) +
      " spacing 1 width 1 noautotitle" +
      (key.title.empty() ? std::string() : " title " + quoted(key.title) + " left") + "\n";
  if (key.at_right) {
    script += "set key at screen " +
              formatted("%.4f, %.4f", panels_right + geometry.across(geometry.font_pt),
                        1 - geometry.up(2 * geometry.line_pt())) +
              " left top vertical Left reverse" + common;
  } else {
    script += "set key at screen 0.5, " + formatted("%.4f", geometry.up(0.3 * geometry.font_pt)) +
              " center bottom vertical Left reverse" + common;
  }
  script += "plot NaN notitle";
  for (std::size_t n = 0; n < entries.size(); ++n) {
    script += ", \\\n     " + entries[n].first + " title " + quoted(key.labels[n]);
  }
  return script + "\n";
}

double tic_step(double most, int count) {
  if (!(most > 0)) return 1;
  double step = std::pow(10.0, std::floor(std::log10(most / count)));
  for (const double factor : {1.0, 2.0, 5.0, 10.0}) {
    if (most / (step * factor) <= count + 1e-9) return step * factor;
  }
  return step * 10;
}

}  // namespace blocklevels::figure_style
