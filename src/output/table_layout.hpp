// The table: how each kind of result is laid out in rows and named
// columns, the one place that knows it. The CSV writer and reader and the
// Python DataFrame serialise the same rows; every column holds one meaning
// in every row that fills it, and rows leave the other columns empty.
//
// Columns, in order:
//   source            the row's kind (below)
//   lambda ... arithmetic   the point's parameters (the parameter table's names)
//   runs, seed        a simulation's runs and seed, in the rows of its runs
//   run               a run's number (from 0), in its own hitting time's row;
//                     only a table whose study asks for them has this column
//   t                 the generation of the row's values
//   status            a stopped point's stop number
//   mean_level, X1 .. XL   the expected (or mean) level and the fractions at
//                     level >= j; the counts of a shard's sums
//   condition         Q=V of a search or a hitting time, in its answers
//   search, grid      a search's PARAM:LOW:HIGH and its grid, in its answers
//   direction, lower, upper   a crossing's direction and bracket
//   reached           the simulated runs that reached the value by the final
//                     generation, of `runs`
//   success_rate, success_low, success_high   their share, and its 95 % interval
//   lower_quartile_t, median_t, upper_quartile_t   the hitting time's quartiles
//                     (Kaplan-Meier, the runs that did not reach it censored
//                     at the final generation); empty: not reached by that share
//   restricted_mean_t the mean of min(hitting time, final)
//   evaluations       the expected running time in evaluations; empty when no
//                     run reached the value
//   count             runs that first reached the value at t (none: never)
//   shard, shards, fingerprint, rows, points   a shard's bookkeeping (the
//                     fingerprint: the study's in the shard row, the rows'
//                     between in the shard_end row)
//   format            the table's format, in every row: "3.0.0", or "3.1.0"
//                     in a table with the run column
//
// Sources: "model" (a report of the model), "stopped" (a point that
// stopped: its status), "simulation" and "simulation_ci95" (the simulated
// runs' means and the half-widths of their 95 % intervals),
// "simulation_runs", "simulation_sum", "simulation_sum_of_squares" (a
// shard's exact sums), "threshold" (a crossing, or that there is none: the
// searched parameter's column empty), "hitting" (the model's hitting time:
// t empty when never), "simulation_hitting" (the runs' hitting times),
// "simulation_hitting_counts" (a shard's counts), "simulation_hitting_run"
// (a run's own hitting time: t empty when never), "shard" and "shard_end"
// (a shard's first and last rows).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "results/point_result.hpp"
#include "study/study_identity.hpp"

namespace blocklevels {

inline constexpr std::string_view kTableFormat = "3.0.0";
// Format 3.0.0 with the run column: tables of each run's hitting time.
inline constexpr std::string_view kRunsTableFormat = "3.1.0";

enum class Source {
  model,
  stopped,
  simulation,
  simulation_ci95,
  simulation_runs,
  simulation_sum,
  simulation_sum_of_squares,
  threshold,
  hitting,
  simulation_hitting,
  simulation_hitting_counts,
  shard,
  shard_end,
  simulated_threshold,
  simulation_hitting_run,
};

std::string_view source_name(Source source);
std::optional<Source> source_called(std::string_view name);

// A shard's identity: shard K of N of the study whose fingerprint is
// `fingerprint` (study/study_identity.hpp).
struct ShardIdentity {
  std::int32_t k = 0;
  std::int32_t n = 1;
  std::uint64_t fingerprint = 0;
  bool operator==(const ShardIdentity&) const = default;
};

// A shard's last row: what lies between it and its first, counted and
// fingerprinted (output/row_fingerprint.hpp), in its fingerprint column.
struct ShardEnd {
  std::uint64_t rows = 0;
  std::uint64_t points = 0;
  std::uint64_t fingerprint = 0;
};

// Receives one row's cells, each at most once and in column order; the
// columns it is not given are empty.
class RowWriter {
 public:
  virtual void begin_row() = 0;
  virtual void integer(std::size_t column, std::int64_t v) = 0;
  virtual void count(std::size_t column, simulation::uint128 v) = 0;
  virtual void real(std::size_t column, double v) = 0;
  virtual void text(std::size_t column, std::string_view v) = 0;
  virtual void end_row() = 0;

 protected:
  ~RowWriter() = default;
};

enum class ColumnKind { text, integer, count, real };

struct TableColumn {
  std::string name;
  // What its cells hold in most rows; X columns hold counts in a shard's
  // sum rows.
  ColumnKind kind;
};

// The settings a row of `source` writes of the study's: runs and seed in
// the rows of simulated runs, the condition in a search's or a hitting
// time's answers, the search and its grid in a search's.
StudySettings row_settings(Source source, const StudySettings& study);

class TableLayout {
 public:
  // A table whose widest point has `max_blocks` blocks; with `run_column`,
  // one that holds each simulated run's hitting time.
  explicit TableLayout(std::int32_t max_blocks, bool run_column = false);

  std::int32_t max_blocks() const { return max_blocks_; }
  bool run_column() const { return run_column_; }
  std::string_view format() const { return run_column_ ? kRunsTableFormat : kTableFormat; }
  const std::vector<TableColumn>& columns() const { return columns_; }
  // The index of the column called `name`; the caller names a column that is.
  std::size_t column(std::string_view name) const;
  std::size_t first_value() const { return mean_level_; }

  // Writes the rows of `result` under `settings`. The grid of a search
  // writes no row.
  void write(const Result& result, const StudySettings& settings, RowWriter& out) const;
  void write_shard(const ShardIdentity& shard, const StudySettings& settings, RowWriter& out) const;
  void write_shard_end(const ShardIdentity& shard, const StudySettings& settings,
                       const ShardEnd& end, RowWriter& out) const;

 private:
  void point_cells(const Point& point, std::string_view leave_out, RowWriter& out) const;
  void settings_cells(Source source, const StudySettings& settings, RowWriter& out) const;
  void answer_cells(Source source, const StudySettings& settings, RowWriter& out) const;
  void values(std::span<const double> tail, RowWriter& out) const;
  void begin_row(Source source, const Result& result, const StudySettings& settings,
                 RowWriter& out) const;
  void end_row(RowWriter& out) const;
  void write_hitting_counts(const Result& result, const HittingCounts& counts,
                            const StudySettings& settings, RowWriter& out) const;
  void write_hitting_summary(const Result& result, const simulation::HittingSummary& hs,
                             const StudySettings& settings, RowWriter& out) const;
  void write_threshold(const Result& result, const Threshold& threshold,
                       const StudySettings& settings, RowWriter& out) const;
  void write_simulated_threshold(const Result& result, const SimulatedThreshold& threshold,
                                 const StudySettings& settings, RowWriter& out) const;
  void write_simulation(const Result& result, const StudySettings& settings, RowWriter& out) const;
  void write_hitting_run(const Result& result, const HittingRun& run, const StudySettings& settings,
                         RowWriter& out) const;

  std::int32_t max_blocks_;
  bool run_column_;
  std::vector<TableColumn> columns_;
  std::size_t source_ = 0, runs_ = 0, seed_ = 0, run_ = 0, t_ = 0, status_ = 0, mean_level_ = 0;
  std::size_t condition_ = 0, search_ = 0, grid_ = 0, direction_ = 0, lower_ = 0, upper_ = 0;
  std::size_t reached_ = 0, success_ = 0, count_ = 0, shard_ = 0, format_ = 0;
};

}  // namespace blocklevels
