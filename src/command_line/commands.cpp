#include "command_line/commands.hpp"

#include <CLI/CLI.hpp>
#include <string_view>

#include "arithmetic/out_of_memory.hpp"
#include "arithmetic/stop.hpp"
#include "command_line/arguments.hpp"
#include "command_line/command_line.hpp"
#include "command_line/figure_options.hpp"
#include "errors/failure.hpp"
#include "runs/study_run.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/standard_streams.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/traps.hpp"
#include "study/quantity_checks.hpp"
#include "tables/merge.hpp"
#include "tables/table_plot.hpp"

namespace blocklevels {
namespace {

constexpr const char* kMergeAbout =
    "blocklevels merge: the CSV table of a whole study from the CSV tables of its shards\n"
    "(--shard K/N), given in any order; written to standard output.";
constexpr const char* kPlotAbout =
    "blocklevels plot: the figure of a CSV table written before (or merged from shards),\n"
    "drawn without computing: the same figure as the study that wrote it draws (a search's\n"
    "thresholds without its grid, which the table does not hold).";

void add_merge_options(CLI::App& app, std::vector<std::string>& names) {
  app.add_option("FILE", names, "the shards' CSV files")->required();
}

void add_plot_options(CLI::App& app, std::string& table_name, Study& options,
                      FigureOptionTexts& texts) {
  app.add_option("TABLE", table_name, "the CSV table")->required();
  app.add_option("FIGURE", options.plot, "the figure: FIGURE.png, FIGURE.svg or FIGURE.pdf")
      ->required();
  app.add_flag("--force", options.force, "replace an existing figure");
  add_figure_options(app, options, texts);
}

int merge(int argc, char** argv) {
  CLI::App app{kMergeAbout, "blocklevels merge"};
  std::vector<std::string> names;
  add_merge_options(app, names);
  // argv[0] is the command's name.
  if (!parse_arguments(app, argc - 1, argv + 1, "merge")) return 0;
  merge_shards(names);
  return 0;
}

int plot(int argc, char** argv) {
  CLI::App app{kPlotAbout, "blocklevels plot"};
  std::string table_name;
  Study options;
  FigureOptionTexts texts;
  add_plot_options(app, table_name, options, texts);
  if (!parse_arguments(app, argc - 1, argv + 1, "plot")) return 0;
  if (auto why = figure_name_refusal(options.plot)) {
    throw Failure(kBadUsage, "plot: " + why->message());
  }
  // Standard output or error into the table read: refused before it is.
  if (const auto stream = runtime::standard_stream_on_path(table_name)) {
    throw Failure(kBadUsage, std::string(*stream) + " is '" + table_name +
                                 "', the table read: send " + std::string(*stream) + " elsewhere");
  }
  check_figure_syntax(options, texts);
  const TableFigure figure = read_table_figure(table_name, options);
  check_figure_options(figure.study);
  check_study_quantities(figure.study, Spelling::option);
  draw_table_figure(figure, table_name);
  return 0;
}

int run(int argc, char** argv) {
  if (std::string_view(argv[1]) == "merge") return merge(argc, argv);
  if (std::string_view(argv[1]) == "plot") return plot(argc, argv);
  const std::optional<Study> study = parse_command_line(argc, argv);
  return study ? run_study(*study) : 0;
}

}  // namespace

std::vector<CommandHelp> commands_help() {
  std::vector<CommandHelp> help = {study_help()};
  {
    CLI::App app{kMergeAbout, "blocklevels merge"};
    std::vector<std::string> names;
    add_merge_options(app, names);
    help.push_back({"blocklevels merge", app.get_description(), options_help(app)});
  }
  CLI::App app{kPlotAbout, "blocklevels plot"};
  std::string table_name;
  Study options;
  FigureOptionTexts texts;
  add_plot_options(app, table_name, options, texts);
  help.push_back({"blocklevels plot", app.get_description(), options_help(app)});
  return help;
}

int run_command_line(int argc, char** argv) {
  runtime::install_traps();
  runtime::set_stop_style(runtime::StopStyle::words);
  try {
    return stop_when_out_of_memory([&] { return run(argc, argv); });
  } catch (const Failure& failure) {
    runtime::say(failure.message());
    return failure.status();
  } catch (const Stop& stop) {
    runtime::stop_run_at(stop.number(), stop.place());
  }
}

}  // namespace blocklevels
