#include "driver/command_line.hpp"

#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <functional>
#include <iostream>
#include <optional>

#include "driver/option_values.hpp"

#ifndef BLOCKLEVELS_VERSION
#define BLOCKLEVELS_VERSION "unknown"
#endif

namespace blocklevels {
namespace {

constexpr std::int64_t kMaxPoints = 100000;

// The texts of the options as given; CLI11 only splits the command line.
struct OptionTexts {
  std::string lambda, mu, pmut, block_length, two_option = "0", blocks, final_iteration, step = "1";
  std::string jobs, shard, simulate, seed;
};

// A refusal: the message names the option and the value.
struct Refusal {
  std::string message;
};

std::int32_t integer_value(const std::string& option, const std::string& text) {
  IntegerChoices choices = parse_integer_choices(text);
  if (!choices.error.empty() || choices.values.size() != 1) {
    throw Refusal{option + ": '" + text + "' is not one integer"};
  }
  return choices.values[0];
}

std::vector<std::int32_t> integer_values(const std::string& option, const std::string& text,
                                         std::int32_t lowest) {
  IntegerChoices choices = parse_integer_choices(text);
  if (!choices.error.empty()) throw Refusal{option + ": " + choices.error};
  for (const std::int32_t v : choices.values) {
    if (v < lowest) {
      throw Refusal{option + ": " + std::to_string(v) + " is below " + std::to_string(lowest)};
    }
  }
  return std::move(choices.values);
}

std::vector<RealChoice> pmut_values(const std::string& text) {
  RealChoices choices = parse_real_choices(text);
  if (!choices.error.empty()) throw Refusal{"--pmut: " + choices.error};
  for (const RealChoice& c : choices.values) {
    if (!(c.value >= 0 && c.value <= 1)) {
      throw Refusal{"--pmut: " + c.text + " is outside 0..1"};
    }
  }
  return std::move(choices.values);
}

void check_outputs(const Study& study) {
  if (!study.report_file.empty() && study.is_sweep()) {
    throw Refusal{"--output: a report file holds one run; a sweep writes --csv instead"};
  }
  if (!study.plot.empty()) {
    const std::string& name = study.plot;
    const std::size_t dot = name.rfind('.');
    const std::string extension = dot == std::string::npos ? "" : name.substr(dot);
    if (extension != ".png" && extension != ".svg" && extension != ".pdf") {
      throw Refusal{"--plot: '" + name + "' does not end in .png, .svg or .pdf"};
    }
  }
  const std::string* names[] = {&study.report_file, &study.csv, &study.plot};
  for (int a = 0; a < 3; ++a) {
    for (int b = a + 1; b < 3; ++b) {
      if (!names[a]->empty() && *names[a] == *names[b]) {
        throw Refusal{"'" + *names[a] + "' is named for two outputs"};
      }
    }
  }
  if (study.sharded()) {
    if (study.csv.empty()) throw Refusal{"--shard: a shard writes its rows with --csv"};
    if (!study.report_file.empty() || !study.plot.empty()) {
      throw Refusal{"--shard: a shard writes only --csv; merge the shards, then plot"};
    }
  }
}

void parse_shard(const std::string& text, Study& study) {
  const std::size_t slash = text.find('/');
  if (slash == std::string::npos) throw Refusal{"--shard: '" + text + "' is not K/N"};
  const std::int32_t k = integer_value("--shard", text.substr(0, slash));
  const std::int32_t n = integer_value("--shard", text.substr(slash + 1));
  if (n < 1 || k < 0 || k >= n) {
    throw Refusal{"--shard: '" + text + "' needs 0 <= K < N"};
  }
  study.shard_index = k;
  study.shard_count = n;
}

std::uint64_t parse_seed(const std::string& text) {
  std::uint64_t seed = 0;
  if (text.empty() || text.size() > 20) throw Refusal{"--seed: '" + text + "' is not a seed"};
  for (const char c : text) {
    const auto digit = static_cast<std::uint64_t>(c - '0');
    if (c < '0' || c > '9' || seed > (UINT64_MAX - digit) / 10) {
      throw Refusal{"--seed: '" + text + "' is not a seed from 0 to 18446744073709551615"};
    }
    seed = seed * 10 + digit;
  }
  return seed;
}

// The Cartesian product of the values, --lambda slowest, --step fastest;
// every point checked against the others' values.
void expand_points(const OptionTexts& texts, Study& study) {
  const auto lambdas = integer_values("--lambda", texts.lambda, 1);
  const auto mus = integer_values("--mu", texts.mu, 1);
  const auto pmuts = pmut_values(texts.pmut);
  const auto block_lengths = integer_values("--block-length", texts.block_length, 1);
  const auto two_options = integer_values("--two-option", texts.two_option, 0);
  const auto blocks = integer_values("--blocks", texts.blocks, 1);
  const auto finals = integer_values("--final", texts.final_iteration, 1);
  const auto steps = integer_values("--step", texts.step, 1);
  // In the order of kParameterNames.
  const std::size_t counts[] = {lambdas.size(),       mus.size(),         pmuts.size(),
                                block_lengths.size(), two_options.size(), blocks.size(),
                                finals.size(),        steps.size()};
  std::int64_t total = 1;
  for (std::size_t n = 0; n < std::size(counts); ++n) {
    const std::size_t count = counts[n];
    const std::string_view name = kParameterNames[n];
    total *= static_cast<std::int64_t>(count);
    if (total > kMaxPoints) {
      throw Refusal{"the sweep has more than " + std::to_string(kMaxPoints) + " points"};
    }
    if (count > 1) study.swept.emplace_back(name);
  }
  for (const std::int32_t lambda : lambdas)
    for (const std::int32_t mu : mus)
      for (const RealChoice& pmut : pmuts)
        for (const std::int32_t b : block_lengths)
          for (const std::int32_t acc : two_options)
            for (const std::int32_t l : blocks)
              for (const std::int32_t final_iteration : finals)
                for (const std::int32_t step : steps) {
                  if (mu > lambda) {
                    throw Refusal{"--mu: " + std::to_string(mu) + " is above --lambda " +
                                  std::to_string(lambda)};
                  }
                  if (acc > b) {
                    throw Refusal{"--two-option: " + std::to_string(acc) +
                                  " is above --block-length " + std::to_string(b)};
                  }
                  StudyPoint point;
                  point.p = {lambda, pmut.value, b, acc, l, final_iteration, step, mu};
                  point.pmut_text = pmut.text;
                  study.points.push_back(point);
                  if (l > study.max_blocks) study.max_blocks = l;
                }
}

}  // namespace

int parse_command_line(int argc, char** argv, Study& study) {
  CLI::App app{
      "blocklevels: the expected level dynamics of a (mu, lambda) evolutionary algorithm with\n"
      "truncation selection on a block-structured fitness function. Without arguments it asks\n"
      "nine questions; with options it runs one point or a sweep. Every numeric parameter takes\n"
      "a value, a list v1,v2,... or a range FROM:TO:COUNT or FROM:TO:COUNT:log.\n"
      "See blocklevels(1) for the CSV columns, exit statuses and examples.",
      "blocklevels"};
  OptionTexts texts;
  app.add_option("--lambda", texts.lambda, "offspring per generation")->type_name("N")->required();
  app.add_option("--mu", texts.mu, "selected parents, 1..lambda")->type_name("N")->required();
  app.add_option("--pmut", texts.pmut, "allele mutation probability, 0..1")
      ->type_name("X")
      ->required();
  app.add_option("--block-length", texts.block_length, "positions per block")
      ->type_name("B")
      ->required();
  app.add_option("--two-option", texts.two_option,
                 "positions per block with two acceptable alleles (default 0)")
      ->type_name("A");
  app.add_option("--blocks", texts.blocks, "number of blocks")->type_name("L")->required();
  app.add_option("--final", texts.final_iteration, "last generation")->type_name("T")->required();
  app.add_option("--step", texts.step, "generations between reports (default 1)")->type_name("S");
  app.add_option("--output", study.report_file,
                 "the report file, as the dialogue writes it (one run only)")
      ->type_name("FILE");
  app.add_option("--csv", study.csv, "every level at every report; - for standard output")
      ->type_name("FILE");
  app.add_option("--plot", study.plot, "a figure: FILE.png, FILE.svg or FILE.pdf (gnuplot)")
      ->type_name("FILE");
  app.add_option("--jobs", texts.jobs, "parallel runs (default: all cores)")->type_name("N");
  app.add_flag("--force", study.force, "replace existing output files");
  app.add_flag("--quiet", study.quiet, "nothing on standard output but a CSV sent there");
  app.add_option("--shard", texts.shard,
                 "K/N: run every N-th point (or simulated run) from K, 0 <= K < N")
      ->type_name("K/N");
  app.add_option("--simulate", texts.simulate, "R: also simulate the real algorithm R times")
      ->type_name("R");
  app.add_option("--seed", texts.seed, "the simulation's seed (default 1)")->type_name("S");
  app.set_version_flag("--version", std::string("blocklevels ") + BLOCKLEVELS_VERSION);
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return 0;
  } catch (const CLI::CallForVersion& e) {
    std::cout << e.what() << '\n';
    return 0;
  } catch (const CLI::ParseError& e) {
    std::cerr << "blocklevels: " << e.what() << "\n(blocklevels --help lists the options)\n";
    return 2;
  }
  try {
    expand_points(texts, study);
    const long cores = ::sysconf(_SC_NPROCESSORS_ONLN);
    study.jobs = texts.jobs.empty() ? static_cast<int>(cores < 1 ? 1 : cores)
                                    : integer_value("--jobs", texts.jobs);
    if (study.jobs < 1) throw Refusal{"--jobs: " + texts.jobs + " is below 1"};
    if (!texts.shard.empty()) parse_shard(texts.shard, study);
    if (!texts.simulate.empty()) {
      study.simulate_runs = integer_value("--simulate", texts.simulate);
      if (study.simulate_runs < 1) throw Refusal{"--simulate: " + texts.simulate + " is below 1"};
    }
    if (!texts.seed.empty()) {
      if (texts.simulate.empty()) throw Refusal{"--seed: only a simulation takes a seed"};
      study.seed = parse_seed(texts.seed);
    }
    check_outputs(study);
  } catch (const Refusal& refusal) {
    std::cerr << "blocklevels: " << refusal.message << '\n';
    return 2;
  }
  return -1;
}

}  // namespace blocklevels
