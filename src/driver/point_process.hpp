// One point of a study, run in a child process of its own: a point that
// stops (an overflow, say) ends only its own process, with the one stop
// path and its own x87 state, and the study goes on.
#pragma once

#include <cstdint>

#include "driver/study.hpp"
#include "runtime/stop_report.hpp"

namespace blocklevels {

struct PointWork {
  const StudyPoint* point = nullptr;
  std::int32_t max_blocks = 0;  // the CSV table's width
  int rows_fd = -1;             // where the CSV rows go (a pipe to the parent), or -1
  bool all_rows = true;         // every row; else only the model's last row
  bool model_rows = true;       // the model's rows (a simulation shard other than 0 has none)
  bool console_lines = false;   // the dialogue's console lines on standard output
  int report_fd = -1;           // the report file: header, opening and report lines
  runtime::StopStyle stop_style = runtime::StopStyle::silent;
  // The simulation: runs shard_index, shard_index + shard_count, ... below
  // simulate_runs, on `threads` threads; partial sums instead of summaries
  // when sharded.
  std::int32_t simulate_runs = 0;
  std::uint64_t seed = 1;
  int shard_index = 0;
  int shard_count = 1;
  int threads = 1;
};

// Runs the point in the calling (child) process and ends it: exit status 0,
// or the stop number when the run stops.
[[noreturn]] void run_point(const PointWork& work);

}  // namespace blocklevels
