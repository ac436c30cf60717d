#include "study/command_line.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <iostream>

#include "parameters/parameter_table.hpp"
#include "runtime/failure.hpp"
#include "sweep/option_values.hpp"
#include "sweep/sweep_points.hpp"

#ifndef BLOCKLEVELS_VERSION
#define BLOCKLEVELS_VERSION "unknown"
#endif

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw runtime::Failure(runtime::kBadUsage, std::move(message));
}

// The study's own options, as given; "" when absent.
struct StudyTexts {
  std::string jobs, shard, simulate, seed;
};

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
    const std::string& name = study.plot;
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    if (extension != ".png" && extension != ".svg" && extension != ".pdf") {
      refuse("--plot: '" + name + "' does not end in .png, .svg or .pdf");
    }
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
    CLI::Option* option = app.add_option(std::string(d.option), texts[n], std::string(d.meaning))
                              ->type_name(std::string(d.value_name));
    if (d.default_text.empty()) option->required();
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
  app.set_version_flag("--version", std::string("blocklevels ") + BLOCKLEVELS_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return std::nullopt;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return std::nullopt;
  } catch (const CLI::ParseError& e) {
    refuse(std::string(e.what()) + "\n(blocklevels --help lists the options)");
  }
  // An option given an empty value ("--csv ''", an unset variable) is a
  // mistake, never the option left out.
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0 || option->get_expected_min() == 0) continue;
    for (const std::string& value : option->results()) {
      if (value.empty()) refuse(option->get_name() + ": an empty value");
    }
  }
  expand_points(texts, study);
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
  return study;
}

}  // namespace blocklevels
