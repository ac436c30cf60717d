// A study: the runs the command line asks for (one point, or the points of
// a sweep) and where their results go.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "parameters/parameter_table.hpp"
#include "parameters/point_parameters.hpp"
#include "parameters/quantity.hpp"
#include "search/threshold_search.hpp"

namespace blocklevels {

struct Study {
  // Every point of the sweep in its order: the Cartesian product of the
  // options' values (zipped lists as one), the parameter table's first
  // parameter varying slowest.
  std::vector<Point> points;
  // The parameters whose value differs between points, by name, in table
  // order.
  std::vector<std::string> swept;
  std::int32_t max_blocks = 0;  // the largest `blocks` of all points

  std::string report_file;  // --output: "" for none
  std::string csv;          // --csv: "" for none, "-" for standard output
  std::string plot;         // --plot: "" for none
  bool force = false;
  bool quiet = false;
  int jobs = 1;
  // --shard K/N: this process runs every N-th point from K (or, with a
  // simulation, every N-th run from K), and its table says so.
  bool sharded = false;
  int shard_index = 0;
  int shard_count = 1;
  bool resume = false;             // --resume: keep the complete points of the CSV
  std::int32_t simulate_runs = 0;  // --simulate R: 0 for none
  std::uint64_t seed = 1;
  // --find PARAM:LOW:HIGH --where Q=V: the search each point runs (its
  // parameter's field in every point holds LOW); its range as given.
  std::optional<ThresholdSearch> find;
  std::string find_range;
  // --hitting Q=V: the first generation at which Q reaches V.
  std::optional<Condition> hitting;
  // --hitting-runs: each simulated run's hitting time, a row per run.
  bool hitting_runs = false;
  // --zip P,Q,...: the parameters whose lists advance together.
  std::vector<const ParameterDescription*> zip;
  // --mu-ratio R: mu as a ratio of lambda, in place of --mu ("" for none).
  std::string mu_ratio;
  std::string plot_map;  // --plot-map Q: "" for none
  std::string plot_x;    // --plot-x PARAM: "" for the default
  bool plot_logy = false;
  double plot_width = 11, plot_height = 8;  // --plot-size, in inches
  // --plot-title, --plot-xlabel, --plot-ylabel: "" for the figure's own.
  std::string plot_title, plot_xlabel, plot_ylabel;
  std::string plot_levels;     // --plot-levels: "" for the default
  double plot_font_scale = 1;  // --plot-font-scale
  bool no_progress = false;

  bool is_sweep() const { return points.size() > 1; }
  // The search as --find takes it, "pmut:0.0001:0.1"; "" for none.
  std::string search_text() const;
  // Whether its shards divide each point's simulated runs (a simulated
  // study) rather than its points (a model sweep, or a search: each
  // shard's searches find the crossings its runs start from).
  bool shards_runs() const { return sharded && simulate_runs > 0 && !find; }
};

}  // namespace blocklevels
