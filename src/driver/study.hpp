// A study: the runs the command line asks for (one point, or the points of
// a sweep) and where their results go.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "model/run_parameters.hpp"

namespace blocklevels {

struct StudyPoint {
  RunParameters p;
  std::string pmut_text;  // Pmut as typed (or as a range wrote it)
};

// The parameters by the names of their CSV columns and summary lines, in
// the order of the options.
inline constexpr std::string_view kParameterNames[] = {
    "lambda", "mu", "pmut", "block_length", "two_option", "blocks", "final", "step"};

// A parameter's value as text, by its name: Pmut as typed, integers in
// decimal.
std::string parameter_text(const StudyPoint& point, std::string_view name);

struct Study {
  // Every point of the sweep in its order: the Cartesian product of the
  // options' values, --lambda varying slowest and --step fastest.
  std::vector<StudyPoint> points;
  // The options that take more than one value, by name ("lambda", ...).
  std::vector<std::string> swept;
  std::int32_t max_blocks = 0;  // the largest `blocks` of all points

  std::string report_file;  // --output: "" for none
  std::string csv;          // --csv: "" for none, "-" for standard output
  std::string plot;         // --plot: "" for none
  bool force = false;
  bool quiet = false;
  int jobs = 1;
  // --shard K/N: this process runs every N-th point from K (or, with a
  // simulation, every N-th run from K).
  int shard_index = 0;
  int shard_count = 1;
  std::int32_t simulate_runs = 0;  // --simulate R: 0 for none
  std::uint64_t seed = 1;

  bool is_sweep() const { return points.size() > 1; }
  bool sharded() const { return shard_count > 1; }
};

}  // namespace blocklevels
