// One point of a study, computed: the model's reports, its hitting time, a
// search's crossings, the simulated runs, each handed as a typed result to
// a sink as soon as it is known. No I/O, no global state: the command
// line's workers (a process or a thread) and the Python package run points
// through this one function, so both give the same results.
#pragma once

#include <cstdint>
#include <stop_token>

#include "model/model_run.hpp"
#include "model/prepared_model.hpp"
#include "parameters/quantity.hpp"
#include "points/simulated_search.hpp"
#include "results/point_result.hpp"
#include "search/threshold_search.hpp"

namespace blocklevels {

// What to compute of a point.
struct PointWork {
  // Whether the model runs at all (a simulation alone need not), and gives
  // its reports: a simulation shard other than 0 runs it only to stop where
  // shard 0 stops, so that every shard of a point says the same.
  bool model = true;
  bool model_reports = true;
  bool every_report = true;  // every report of the model; else only its last
  // The simulated runs: runs first, first + stride, ... below `runs`, on
  // `threads` threads. A shard (stride > 1, or a study that shards its
  // runs) gives its exact sums instead of their summary.
  std::int32_t runs = 0;
  std::uint64_t seed = 1;
  std::uint64_t first_run = 0;
  std::uint64_t run_stride = 1;
  bool sums = false;
  unsigned threads = 1;
  // A search instead of the model's run, or a hitting time beside it.
  const ThresholdSearch* find = nullptr;
  const Condition* hitting = nullptr;
  bool hitting_runs = false;  // each run's hitting time after their summary
  // Where the model's prepared matrix comes from when it may be shared with
  // other points (points/model_cache.hpp); none: built for this point. The
  // values are the same either way, bit for bit.
  ModelSource* models = nullptr;
};

// A search's stage. A search reports no generations: its progress tells
// the stage in their place (PointProgress::model_reached).
enum class SearchStage : std::int64_t {
  model = 0,                 // the model's grid and crossings
  simulated_crossings = 1,   // the runs at the model's crossings
  simulated_grid = 2,        // the simulated search's grid
  simulated_refinement = 3,  // its crossings and their bands
};

// How far a point has come, told as it goes; at most every generation.
class PointProgress {
 public:
  virtual void model_reached(std::int64_t /*t*/) {}
  virtual void runs_done(std::uint64_t /*done*/, std::uint64_t /*total*/) {}

 protected:
  ~PointProgress() = default;
};

// Computes `work` of `point` into `sink`. `observer`, when given, is shown
// the model's run as it goes (the dialogue's report lines of a single
// run). A stop of the arithmetic throws Stop (out of memory too: 203), a
// stop requested through `cancel` throws Cancelled; the results given so
// far stay given.
void run_point(const Point& point, const PointWork& work, ResultSink& sink,
               PointProgress* progress = nullptr, ModelSink* observer = nullptr,
               const std::stop_token& cancel = {});

}  // namespace blocklevels
