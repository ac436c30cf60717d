#include "command_line/figure_options.hpp"

#include <CLI/CLI.hpp>
#include <charconv>

#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

// "WxH" in inches, each from 1 to 40.
bool read_size(const std::string& text, double& width, double& height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const char* end = text.data() + text.size();
  const auto w = std::from_chars(text.data(), text.data() + x, width);
  const auto h = std::from_chars(text.data() + x + 1, end, height);
  return w.ec == std::errc() && w.ptr == text.data() + x && h.ec == std::errc() && h.ptr == end &&
         width >= 1 && width <= 40 && height >= 1 && height <= 40;
}

}  // namespace

std::optional<Failure> figure_name_refusal(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  if (extension == ".png" || extension == ".svg" || extension == ".pdf") return std::nullopt;
  return Failure(kBadUsage, "'" + name + "' does not end in .png, .svg or .pdf");
}

void add_figure_options(CLI::App& app, Study& study, std::string& size) {
  app.add_option("--plot-x", study.plot_x,
                 "PARAM: the x axis of a figure of final values (default: the swept parameter "
                 "with the most values)")
      ->type_name("PARAM");
  app.add_flag("--plot-logy", study.plot_logy, "fractions on a log scale, for tiny ones");
  app.add_option("--plot-size", size,
                 "WxH: the figure's size in inches (default 11x8; a paper column: 3.5x2.8)")
      ->type_name("WxH");
  app.add_option("--plot-map", study.plot_map,
                 "Q: with --plot and two parameters varying, Q at the final generation as a "
                 "heat map")
      ->type_name("Q");
}

void check_figure_options(Study& study, const std::string& size) {
  const bool figure = !study.plot.empty();
  const auto needs_figure = [&](const char* option) {
    if (!figure) refuse(std::string(option) + ": draws into --plot's file, and there is none");
  };
  if (!study.plot_x.empty()) {
    needs_figure("--plot-x");
    bool swept = false;
    for (const std::string& name : study.swept) swept = swept || name == study.plot_x;
    if (!swept) {
      refuse("--plot-x: '" + study.plot_x + "' is not a parameter this study sweeps" +
             (study.swept.empty() ? std::string() : " (it sweeps " + [&] {
               std::string names;
               for (const std::string& n : study.swept) {
                 names += (names.empty() ? "" : ", ") + n;
               }
               return names;
             }() + ")"));
    }
  }
  if (study.plot_logy) needs_figure("--plot-logy");
  if (!size.empty()) {
    needs_figure("--plot-size");
    if (!read_size(size, study.plot_width, study.plot_height)) {
      refuse("--plot-size: '" + size + "' is not WxH in inches, each 1 to 40 (e.g. 3.5x2.8)");
    }
  }
  if (!study.plot_map.empty()) {
    if (!figure) refuse("--plot-map: the heat map is drawn into --plot's file");
    if (!parse_condition(study.plot_map + "=0")) {
      refuse("--plot-map: '" + study.plot_map + "' is not X<j>, Xtop or mean_level");
    }
    const std::size_t varying = study.swept.size() + (study.find ? 1 : 0);
    if (varying != 2) {
      refuse(
          "--plot-map: a heat map needs two parameters varying (a sweep of two, or --find "
          "and a sweep of one); this study has " +
          std::to_string(varying));
    }
  }
}

}  // namespace blocklevels
