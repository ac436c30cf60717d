// One point of a study, run in a process of its own: a point that fails
// (an overflow, a trap) ends only its own process, with its own x87 state,
// and the study goes on. The process writes what it computed as typed
// records (study/point_records.hpp) into a file the study reads once the
// point has ended, and how far it has come into a pipe, whose end tells the
// study that the point has ended.
#pragma once

#include <cstdint>

#include "parameters/point_parameters.hpp"
#include "parameters/quantity.hpp"
#include "runtime/stop_report.hpp"
#include "search/threshold_search.hpp"

namespace blocklevels {

struct PointWork {
  const Point* point = nullptr;
  int records_fd = -1;         // the file of the point's records, or -1 for none
  int progress_fd = -1;        // the pipe of progress records, or -1 for none
  bool every_report = true;    // the model's every report; else only its last
  bool model_reports = true;   // the model's reports (a simulation shard other than 0 has none)
  bool console_lines = false;  // the dialogue's console lines on standard output
  int report_fd = -1;  // the report file (or standard output): header, opening and report lines
  // How a trap in this process is said (the study's process says the rest).
  runtime::StopStyle stop_style = runtime::StopStyle::silent;
  // The simulation: runs shard_index, shard_index + shard_count, ... below
  // simulate_runs, on `threads` threads; with a console, one line of the
  // summary at the last report.
  std::int32_t simulate_runs = 0;
  std::uint64_t seed = 1;
  bool sharded = false;
  int shard_index = 0;
  int shard_count = 1;
  int threads = 1;
  // --find: the search instead of the model's run; --hitting: the hitting
  // times beside it.
  const ThresholdSearch* find = nullptr;
  const Condition* hitting = nullptr;
};

// Runs the point in the calling (child) process and ends it: exit status 0,
// or the stop number after a failure record when the run stops.
[[noreturn]] void run_point(const PointWork& work);

}  // namespace blocklevels
