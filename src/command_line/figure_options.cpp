#include "command_line/figure_options.hpp"

#include <CLI/CLI.hpp>
#include <charconv>

#include "figures/plot_levels.hpp"
#include "parameters/parameter_table.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

// A decimal number from `lowest` to `highest`, all of the text.
bool read_number(std::string_view text, double lowest, double highest, double& value) {
  const char* end = text.data() + text.size();
  const auto read = std::from_chars(text.data(), end, value);
  return read.ec == std::errc() && read.ptr == end && value >= lowest && value <= highest;
}

// "WxH" in inches, each from 1 to 40.
bool read_size(const std::string& text, double& width, double& height) {
  const std::size_t x = text.find('x');
  if (x == std::string::npos) return false;
  const std::string_view all(text);
  return read_number(all.substr(0, x), 1, 40, width) &&
         read_number(all.substr(x + 1), 1, 40, height);
}

std::string swept_list(const Study& study) {
  std::string names;
  for (const std::string& n : study.swept) names += (names.empty() ? "" : ", ") + n;
  return names;
}

}  // namespace

std::optional<Failure> figure_name_refusal(const std::string& name) {
  const std::size_t dot = name.rfind('.');
  const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
  if (extension == ".png" || extension == ".svg" || extension == ".pdf") return std::nullopt;
  return Failure(kBadUsage, "'" + name + "' does not end in .png, .svg or .pdf");
}

void add_figure_options(CLI::App& app, Study& study, FigureOptionTexts& texts) {
  app.add_option("--plot-x", study.plot_x,
                 "the x axis of a figure of final values (default: the swept parameter with the "
                 "most values)")
      ->type_name("PARAM");
  app.add_option("--plot-levels", study.plot_levels,
                 "the levels whose fractions are drawn: j (1 to the blocks), top or top-K, e.g. "
                 "top,top-5,10 (default: top,top-1,top-2 for one point, top for several)")
      ->type_name("LIST");
  app.add_flag("--plot-logy", study.plot_logy, "fractions on a log scale, for tiny ones");
  app.add_option("--plot-map", study.plot_map,
                 "with two parameters varying, Q (X<j>, Xtop or mean_level) at the final "
                 "generation as a heat map")
      ->type_name("Q");
  app.add_option("--plot-title", study.plot_title,
                 "the figure's title (default: the parameters every point shares)")
      ->type_name("TEXT");
  app.add_option("--plot-xlabel", study.plot_xlabel, "the x axis' label")->type_name("TEXT");
  app.add_option("--plot-ylabel", study.plot_ylabel,
                 "the y axis' label (of the top panel in a figure of levels)")
      ->type_name("TEXT");
  app.add_option("--plot-size", texts.size,
                 "the figure's size in inches, each 1 to 40 (default 11x8; a paper column: "
                 "3.5x2.6)")
      ->type_name("WxH");
  app.add_option("--plot-font-scale", texts.font_scale,
                 "the fonts' size, 0.5 to 3 times their own (default 1)")
      ->type_name("X");
}

void check_figure_syntax(Study& study, const FigureOptionTexts& texts) {
  const auto needs_figure = [&](const char* option, bool given) {
    if (given && study.plot.empty()) {
      refuse(std::string(option) + ": draws into --plot's file, and there is none");
    }
  };
  needs_figure("--plot-x", !study.plot_x.empty());
  needs_figure("--plot-levels", !study.plot_levels.empty());
  needs_figure("--plot-logy", study.plot_logy);
  needs_figure("--plot-map", !study.plot_map.empty());
  needs_figure("--plot-title", !study.plot_title.empty());
  needs_figure("--plot-xlabel", !study.plot_xlabel.empty());
  needs_figure("--plot-ylabel", !study.plot_ylabel.empty());
  needs_figure("--plot-size", !texts.size.empty());
  needs_figure("--plot-font-scale", !texts.font_scale.empty());
  if (!study.plot_levels.empty()) read_plot_levels("--plot-levels", study.plot_levels);
  if (!texts.size.empty() && !read_size(texts.size, study.plot_width, study.plot_height)) {
    refuse("--plot-size: '" + texts.size + "' is not WxH in inches, each 1 to 40 (e.g. 3.5x2.6)");
  }
  if (!texts.font_scale.empty() && !read_number(texts.font_scale, 0.5, 3, study.plot_font_scale)) {
    refuse("--plot-font-scale: '" + texts.font_scale + "' is not a number from 0.5 to 3");
  }
  if (!study.plot_map.empty() && !parse_condition(study.plot_map + "=0")) {
    refuse("--plot-map: '" + study.plot_map + "' is not X<j>, Xtop or mean_level");
  }
}

void check_figure_options(const Study& study) {
  if (!study.plot_x.empty() &&
      std::find(study.swept.begin(), study.swept.end(), study.plot_x) == study.swept.end()) {
    refuse("--plot-x: '" + study.plot_x + "' is not a parameter this study sweeps" +
           (study.swept.empty() ? std::string() : " (it sweeps " + swept_list(study) + ")"));
  }
  if (!study.plot_levels.empty()) {
    for (const LevelPick& pick : read_plot_levels("--plot-levels", study.plot_levels)) {
      if (level_of(pick, study.max_blocks)) continue;
      refuse("--plot-levels: " +
             (pick.from_top ? "top-" + std::to_string(pick.n) + " is below level 1"
                            : "level " + std::to_string(pick.n) + " is above") +
             " at the study's most blocks, " + std::to_string(study.max_blocks));
    }
  }
  if (!study.plot_map.empty()) {
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
