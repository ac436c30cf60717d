#include "command_line/command_line.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <string_view>
#include <vector>

#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"
#include "command_line/arguments.hpp"
#include "command_line/figure_options.hpp"
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

// The study's own options, as given; "" when absent.
struct StudyTexts {
  std::string jobs, shard, simulate, seed, find, where, hitting, find_grid;
};

// Q=V for --where and --hitting: a quantity and a real.
Condition condition_of(const std::string& option, const std::string& text) {
  std::optional<Condition> condition = parse_condition(text);
  if (!condition) {
    refuse(option + ": '" + text + "' is not Q=V with Q one of X<j>, Xtop, mean_level");
  }
  const std::vector<RealValue> value = real_values(option, condition->value_text);
  if (value.size() != 1) refuse(option + ": '" + condition->value_text + "' is not one number");
  condition->value = value[0].value;
  return *condition;
}

// --find PARAM:LOW:HIGH: the parameter, and both ends valid for it.
void parse_find(const std::string& text, Study& study) {
  const std::size_t colon = text.find(':');
  const ParameterDescription* parameter =
      colon == std::string::npos ? nullptr : find_parameter(text.substr(0, colon));
  const std::string range = colon == std::string::npos ? "" : text.substr(colon + 1);
  const std::size_t second = range.find(':');
  if (parameter == nullptr || second == std::string::npos ||
      range.find(':', second + 1) != std::string::npos) {
    refuse("--find: '" + text + "' is not PARAM:LOW:HIGH with PARAM a parameter's name");
  }
  ThresholdSearch search;
  search.parameter = parameter;
  const std::string ends[] = {range.substr(0, second), range.substr(second + 1)};
  long double values[2] = {};
  for (int n = 0; n < 2; ++n) {
    if (parameter->kind == ParameterKind::real) {
      const std::vector<RealValue> v = real_values("--find", ends[n]);
      if (v.size() != 1) refuse("--find: '" + ends[n] + "' is not one number");
      values[n] = v[0].value;
    } else {
      values[n] = one_integer("--find", ends[n]);
    }
    const std::string why = value_refusal(*parameter, values[n], ends[n]);
    if (!why.empty()) refuse("--find: " + why);
  }
  if (!(values[0] < values[1])) refuse("--find: '" + text + "' needs LOW below HIGH");
  search.low = values[0];
  search.high = values[1];
  study.find = search;
  study.find_range = range;
}

// The Cartesian product of the options' values (sweep/sweep_points.hpp).
void expand_points(const std::vector<std::string>& texts, Study& study) {
  const auto table = parameter_table();
  std::vector<ParameterValues> values;
  for (std::size_t n = 0; n < table.size(); ++n) {
    values.push_back(parameter_values(table[n], texts[n]));
  }
  SweepPoints sweep = expand_sweep(values);
  study.points = std::move(sweep.points);
  study.swept = std::move(sweep.swept);
  study.max_blocks = sweep.max_blocks;
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
    const std::string why = figure_name_refusal(study.plot);
    if (!why.empty()) refuse("--plot: " + why);
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

std::optional<Study> parse_command_line(int argc, char** argv) {
  CLI::App app{
      "blocklevels: the expected level dynamics of a (mu, lambda) evolutionary algorithm with\n"
      "truncation selection on a block-structured fitness function. Without arguments it asks\n"
      "nine questions; with options it runs one point or a sweep. Every numeric parameter takes\n"
      "a value, a list v1,v2,... or a range FROM:TO:COUNT or FROM:TO:COUNT:log.\n"
      "See blocklevels(1) for the CSV columns, exit statuses and examples.",
      "blocklevels"};
  Study study;
  const auto table = parameter_table();
  std::vector<std::string> texts;
  for (const ParameterDescription& d : table) texts.emplace_back(d.default_text);
  for (std::size_t n = 0; n < table.size(); ++n) {
    const ParameterDescription& d = table[n];
    app.add_option(std::string(d.option), texts[n], std::string(d.meaning))
        ->type_name(std::string(d.value_name));
  }
  StudyTexts own;
  app.add_option("--output", study.report_file,
                 "the report file, as the dialogue writes it (one run only)")
      ->type_name("FILE");
  app.add_option("--csv", study.csv, "every level at every report; - for standard output")
      ->type_name("FILE");
  app.add_option("--plot", study.plot, "a figure: FILE.png, FILE.svg or FILE.pdf (gnuplot)")
      ->type_name("FILE");
  app.add_option("--jobs", own.jobs, "parallel runs (default: all cores)")->type_name("N");
  app.add_flag("--force", study.force, "replace existing output files");
  app.add_flag("--quiet", study.quiet, "nothing on standard output but a CSV sent there");
  app.add_flag("--resume", study.resume,
               "keep the complete points of the --csv table an interrupted run of the same "
               "command left, and run the rest");
  app.add_option("--shard", own.shard,
                 "K/N: run every N-th point (or simulated run) from K, 0 <= K < N")
      ->type_name("K/N");
  app.add_option("--simulate", own.simulate, "R: also simulate the real algorithm R times")
      ->type_name("R");
  app.add_option("--seed", own.seed, "the simulation's seed (default 1)")->type_name("S");
  app.add_option("--find", own.find,
                 "PARAM:LOW:HIGH: the value of PARAM (lambda, mu, pmut, ...) in [LOW, HIGH] at "
                 "which the quantity of --where crosses its value at the final generation")
      ->type_name("PARAM:LOW:HIGH");
  app.add_option("--where", own.where, "Q=V for --find: Q is X<j>, Xtop or mean_level")
      ->type_name("Q=V");
  app.add_option("--find-grid", own.find_grid,
                 "N: the values of PARAM --find tries before it refines (default 64)")
      ->type_name("N");
  app.add_option("--hitting", own.hitting,
                 "Q=V: the first generation at which Q reaches V (and each simulated run's)")
      ->type_name("Q=V");
  std::string plot_size;
  add_figure_options(app, study, plot_size);
  app.add_flag("--no-progress", study.no_progress,
               "no progress line on standard error (shown on a terminal)");
  app.footer(
      "Commands:\n"
      "  blocklevels merge SHARD.csv...      the table of a whole study from its shards' tables\n"
      "  blocklevels plot TABLE.csv FIGURE   draws a table written before (or merged) without "
      "computing");
  app.set_version_flag("--version", std::string("blocklevels ") + BLOCKLEVELS_VERSION);
  if (!parse_arguments(app, argc, argv, "")) return std::nullopt;
  // An option given an empty value ("--csv ''", an unset variable) is a
  // mistake, never the option left out.
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || option->get_expected_min() == 0) continue;
    for (const std::string& value : option->results()) {
      if (value.empty()) refuse(option->get_name() + ": an empty value");
    }
  }
  // The parameters without a default are required, but the one --find
  // searches, which must not be given (said first unless a parameter before
  // it in the table is missing). The missing ones are named together.
  if (!own.find.empty()) parse_find(own.find, study);
  std::vector<std::string_view> missing;
  for (std::size_t n = 0; n < table.size(); ++n) {
    const ParameterDescription& d = table[n];
    const bool given = app.get_option(std::string(d.option))->count() > 0;
    if (study.find && study.find->parameter == &d) {
      if (given && missing.empty())
        refuse(std::string(d.option) + ": --find " + std::string(d.name) +
               " takes its place; give one of them");
      texts[n] = d.kind == ParameterKind::real
                     ? study.find_range.substr(0, study.find_range.find(':'))
                     : std::to_string(static_cast<std::int32_t>(study.find->low));
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
  expand_points(texts, study);
  if (study.find) {
    if (own.where.empty()) refuse("--find: --where Q=V says what to find");
    study.find->condition = condition_of("--where", own.where);
    if (!own.find_grid.empty()) {
      study.find->grid = one_integer("--find-grid", own.find_grid);
      if (study.find->grid < 2 || study.find->grid > 4096) {
        refuse("--find-grid: " + own.find_grid + " is not 2 to 4096");
      }
    }
    // The search moves one parameter: every point must be valid at both ends.
    for (Point point : study.points) {
      for (const long double end : {study.find->low, study.find->high}) {
        set_parameter(point, *study.find->parameter, end, "");
        for (const ParameterDescription& d : table) {
          const std::string why = bound_refusal(point, d);
          if (!why.empty()) refuse("--find " + study.find_range + ": " + why);
        }
      }
    }
  } else if (!own.where.empty() || !own.find_grid.empty()) {
    refuse(std::string(own.where.empty() ? "--find-grid" : "--where") + ": only --find takes it");
  }
  if (!own.hitting.empty()) {
    if (study.find) refuse("--hitting: --find and --hitting ask different questions; give one");
    study.hitting = condition_of("--hitting", own.hitting);
  }
  const Condition* condition = study.find      ? &study.find->condition
                               : study.hitting ? &*study.hitting
                                               : nullptr;
  if (condition != nullptr && condition->quantity.kind == Quantity::Kind::level) {
    for (const Point& point : study.points) {
      if (condition->quantity.level > point.p.blocks) {
        refuse(std::string(study.find ? "--where" : "--hitting") + ": " +
               condition->quantity.name() + " but a point has " + std::to_string(point.p.blocks) +
               " blocks");
      }
    }
  }
  const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
  study.jobs =
      own.jobs.empty() ? static_cast<int>(cores < 1 ? 1 : cores) : one_integer("--jobs", own.jobs);
  if (study.jobs < 1) refuse("--jobs: " + own.jobs + " is below 1");
  if (!own.shard.empty()) parse_shard(own.shard, study);
  if (!own.simulate.empty()) {
    study.simulate_runs = one_integer("--simulate", own.simulate);
    if (study.simulate_runs < 1) refuse("--simulate: " + own.simulate + " is below 1");
  }
  if (!own.seed.empty()) {
    if (own.simulate.empty()) refuse("--seed: only a simulation takes a seed");
    study.seed = seed_value("--seed", own.seed);
  }
  check_outputs(study);
  check_figure_options(study, plot_size);
  return study;
}

}  // namespace blocklevels
