#include "command_line/command_line.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <deque>
#include <string_view>
#include <vector>

#include "command_line/arguments.hpp"
#include "command_line/figure_options.hpp"
#include "errors/failure.hpp"
#include "parameters/parameter_table.hpp"
#include "study/quantity_checks.hpp"
#include "study/run_settings.hpp"
#include "sweep/option_values.hpp"
#include "sweep/sweep_points.hpp"

#ifndef BLOCKLEVELS_VERSION
#define BLOCKLEVELS_VERSION "unknown"
#endif

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

// The texts of the options as given: the parameters' (defaults filled in)
// and the settings' ("" when absent), each in its table's order.
struct OptionTexts {
  std::vector<std::string> parameters;
  std::vector<std::string> settings;
  // The flags among the settings, by the same index (a deque: each bool
  // keeps its place while the option parser holds it).
  std::deque<bool> flags;
  std::string shard;
  FigureOptionTexts figure;
};

constexpr const char* kAbout =
    "blocklevels: the expected level dynamics of a (mu, lambda) evolutionary algorithm with\n"
    "truncation selection on a block-structured fitness function. Without arguments it asks\n"
    "nine questions; with options it runs one point or a sweep. Every numeric parameter takes\n"
    "a value, a list v1,v2,... or a range FROM:TO:COUNT or FROM:TO:COUNT:log; swept\n"
    "parameters form their Cartesian product, but those --zip names, whose lists advance\n"
    "together.\n"
    "See blocklevels(1) for the CSV columns, exit statuses and examples.";

void add_options(CLI::App& app, Study& study, OptionTexts& texts) {
  const auto parameters = parameter_table();
  for (const ParameterDescription& d : parameters) texts.parameters.emplace_back(d.default_text);
  for (std::size_t n = 0; n < parameters.size(); ++n) {
    const ParameterDescription& d = parameters[n];
    const std::string meaning(d.meaning);
    app.add_option(std::string(d.option), texts.parameters[n],
                   d.default_text.empty()
                       ? meaning
                       : meaning + " (default " + std::string(d.default_text) + ")")
        ->type_name(std::string(d.value_name));
  }
  app.add_option("--output", study.report_file,
                 "the report file, as the dialogue writes it (one run only)")
      ->type_name("FILE");
  app.add_option("--csv", study.csv, "every level at every report; - for standard output")
      ->type_name("FILE");
  app.add_option("--plot", study.plot, "a figure: FILE.png, FILE.svg or FILE.pdf (gnuplot)")
      ->type_name("FILE");
  app.add_flag("--force", study.force, "replace existing output files");
  app.add_flag("--quiet", study.quiet, "nothing on standard output but a CSV sent there");
  app.add_flag("--resume", study.resume,
               "keep the complete points of the --csv table an interrupted run of the same "
               "command left, and run the rest");
  app.add_option("--shard", texts.shard,
                 "K/N: run every N-th point (or simulated run) from K, 0 <= K < N")
      ->type_name("K/N");
  const auto settings = setting_table();
  texts.settings.resize(settings.size());
  texts.flags.resize(settings.size());
  for (std::size_t n = 0; n < settings.size(); ++n) {
    const SettingDescription& s = settings[n];
    if (s.kind == SettingKind::flag) {
      app.add_flag(std::string(s.option), texts.flags[n], std::string(s.meaning));
      continue;
    }
    app.add_option(std::string(s.option), texts.settings[n], std::string(s.meaning))
        ->type_name(std::string(s.value_name));
  }
  add_figure_options(app, study, texts.figure);
  app.add_flag("--no-progress", study.no_progress,
               "no progress line on standard error (shown on a terminal)");
  app.footer(
      "Commands:\n"
      "  blocklevels merge SHARD.csv...      the table of a whole study from its shards' tables\n"
      "  blocklevels plot TABLE.csv FIGURE   draws a table written before (or merged) without "
      "computing");
  app.set_version_flag("--version", std::string("blocklevels ") + BLOCKLEVELS_VERSION);
}

// An option given an empty value ("--csv ''", an unset variable) is a
// mistake, never the option left out.
void refuse_empty_values(const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || option->get_expected_min() == 0) continue;
    for (const std::string& value : option->results()) {
      if (value.empty()) refuse(option->get_name() + ": an empty value");
    }
  }
}

// The parameters without a default are required, but the one --find
// searches, which must not be given (said first unless a parameter before
// it in the table is missing) and takes the range's low end. The missing
// ones are named together.
void fill_parameters(const CLI::App& app, const Study& study, OptionTexts& texts) {
  const auto table = parameter_table();
  std::vector<std::string_view> missing;
  for (std::size_t n = 0; n < table.size(); ++n) {
    const ParameterDescription& d = table[n];
    const bool given = app.get_option(std::string(d.option))->count() > 0;
    if (!study.mu_ratio.empty() && d.name == "mu") {
      if (given) refuse("--mu: --mu-ratio takes its place; give one of them");
      continue;
    }
    if (study.find && study.find->parameter == &d) {
      if (given && missing.empty()) {
        refuse(std::string(d.option) + ": --find " + std::string(d.name) +
               " takes its place; give one of them");
      }
      texts.parameters[n] = study.find_range.substr(0, study.find_range.find(':'));
      continue;
    }
    if (d.default_text.empty() && !given) missing.push_back(d.option);
  }
  if (missing.size() == 1) {
    refuse(std::string(missing[0]) + " is required\n(blocklevels --help lists the options)");
  }
  if (!missing.empty()) {
    std::string list;
    for (const std::string_view option : missing) {
      list += (list.empty() ? "" : ", ") + std::string(option);
    }
    refuse("missing " + list + "\n(blocklevels --help lists the options)");
  }
}

// The Cartesian product of the options' values, zipped lists as one, mu
// from its ratio (sweep/sweep_points.hpp).
void expand_points(const std::vector<std::string>& texts, Study& study) {
  const auto table = parameter_table();
  std::vector<ParameterValues> values;
  for (std::size_t n = 0; n < table.size(); ++n) {
    values.push_back(!study.mu_ratio.empty() && table[n].name == "mu"
                         ? ratio_values(study, Spelling::option)
                         : parameter_values(table[n], texts[n]));
  }
  SweepPoints sweep = expand_sweep(values, Spelling::option, zip_of(study, Spelling::option));
  study.points = std::move(sweep.points);
  study.swept = std::move(sweep.swept);
  study.max_blocks = sweep.max_blocks;
}

// The settings given, those that shape the points first (the search, the
// zip, mu's ratio), then in the table's order.
std::vector<std::string_view> apply_settings(Study& study, const OptionTexts& texts, bool first) {
  const auto settings = setting_table();
  std::vector<std::string_view> given;
  for (std::size_t n = 0; n < settings.size(); ++n) {
    // A flag is given when on ("--hitting-runs=false" leaves it off).
    std::string_view text = texts.settings[n];
    if (settings[n].kind == SettingKind::flag) text = texts.flags[n] ? "true" : "";
    if (text.empty() || before_points(settings[n]) != first) continue;
    apply_setting(study, settings[n], text, Spelling::option);
    given.push_back(settings[n].name);
  }
  return given;
}

void parse_shard(const std::string& text, Study& study) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) refuse("--shard: '" + text + "' is not K/N");
  const std::int32_t k = one_integer("--shard", text.substr(0, slash));
  const std::int32_t n = one_integer("--shard", text.substr(slash + 1));
  if (n < 1 || k < 0 || k >= n) refuse("--shard: '" + text + "' needs 0 <= K < N");
  study.sharded = true;
  study.shard_index = k;
  study.shard_count = n;
}

void check_outputs(const Study& study) {
  if (!study.report_file.empty() && study.is_sweep()) {
    refuse("--output: a report file holds one run; a sweep writes --csv instead");
  }
  if (!study.plot.empty()) {
    if (auto why = figure_name_refusal(study.plot)) refuse("--plot: " + why->message());
  }
  if (study.resume && (study.csv.empty() || study.csv == "-")) {
    refuse("--resume: only a table in a file (--csv FILE) can be resumed");
  }
  if (study.sharded) {
    if (study.csv.empty()) refuse("--shard: a shard writes its rows with --csv");
    if (!study.report_file.empty() || !study.plot.empty()) {
      refuse("--shard: a shard writes only --csv; merge the shards, then plot");
    }
  }
}

}  // namespace

std::vector<OptionHelp> options_help(const CLI::App& app) {
  std::vector<OptionHelp> help;
  for (const CLI::Option* option : app.get_options()) {
    help.push_back(
        {option->get_name(false, true), option->get_type_name(), option->get_description()});
  }
  return help;
}

CommandHelp study_help() {
  CLI::App app{kAbout, "blocklevels"};
  Study study;
  OptionTexts texts;
  add_options(app, study, texts);
  return {"blocklevels", app.get_description(), options_help(app)};
}

std::optional<Study> parse_command_line(int argc, char** argv) {
  CLI::App app{kAbout, "blocklevels"};
  Study study;
  OptionTexts texts;
  add_options(app, study, texts);
  if (!parse_arguments(app, argc, argv, "")) return std::nullopt;
  refuse_empty_values(app);
  check_figure_syntax(study, texts.figure);
  std::vector<std::string_view> given = apply_settings(study, texts, true);
  fill_parameters(app, study, texts);
  expand_points(texts.parameters, study);
  for (const std::string_view name : apply_settings(study, texts, false)) given.push_back(name);
  check_settings(study, given, Spelling::option);
  if (std::find(given.begin(), given.end(), "jobs") == given.end()) {
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    study.jobs = static_cast<int>(cores < 1 ? 1 : cores);
  }
  if (!texts.shard.empty()) parse_shard(texts.shard, study);
  check_outputs(study);
  check_figure_options(study);
  check_study_quantities(study, Spelling::option);
  return study;
}

}  // namespace blocklevels
