// The CSV table: one header line, then rows, LF line ends. Columns:
// source, the point's parameters (the parameter table's names), runs and
// seed (a simulated study's; empty in model rows), t, status, mean_level,
// X1 .. XL, where L is the largest `blocks` of the table and fields beyond a
// point's own blocks are empty. Numbers are the shortest text that reads
// back to the same double; pmut is as the point names it. Rows are made
// from typed values only (TableRow), and a table read back gives the same
// rows (output/table_reader.hpp).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parameters/point_parameters.hpp"
#include "parameters/quantity.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

// A row's source. A point's model writes a "model" row per report time, or
// one "model" row with its stop number and no t when it stopped. A whole
// simulation writes, per report time, a "simulation" row (the means over the
// runs of the fraction of the offspring at level >= j, and of the mean level)
// and a "simulation_ci95" row (the half-widths of their 95 % confidence
// intervals). A shard writes instead its runs' exact integer sums, per report
// time a "simulation_runs" row (the number of runs in every value field), a
// "simulation_sum" row (the sums over the runs of the number of offspring at
// level >= j, and of the level sum) and a "simulation_sum_of_squares" row,
// which merging adds up exactly. A shard's table starts with a "shard" row
// and, when complete, ends with a "shard_end" row (ShardIdentity).
//
// --find writes a "threshold" row per crossing: the searched parameter's
// column holds the value found, t the final generation, the values the
// model's there; a point without one has one "threshold" row with the
// parameter's column at the range's low end and t and the values empty.
// --hitting writes a "hitting" row: t the first generation at which the
// model's quantity reached the value, the values the model's then (t and
// the values empty when it never did). With --simulate, a
// "simulation_hitting" row holds in its values, in order, the mean
// hitting time of the runs that reached the value (the mean_level column),
// its 95 % half-width (X1), the median (X2), the lower and upper quartiles
// (X3, X4) and the number of runs that never did (X5), t empty; a shard
// writes instead "simulation_hitting_counts" rows, one per generation at
// which runs first reached the value (t, and their count in mean_level),
// and one with t empty counting the runs that never did.
enum class Source {
  model,
  simulation,
  simulation_ci95,
  simulation_runs,
  simulation_sum,
  simulation_sum_of_squares,
  shard,
  shard_end,
  threshold,
  hitting,
  simulation_hitting,
  simulation_hitting_counts,
};

std::string_view source_name(Source source);
std::optional<Source> source_called(std::string_view name);
// The three sources of a shard's exact sums.
bool is_sum_source(Source source);

// The buffer of a table's stream: large, since whole rows are what count.
inline constexpr std::size_t kTableBufferSize = std::size_t{1} << 16;

// The columns besides the parameters and the values.
inline constexpr std::string_view kSourceColumn = "source";
inline constexpr std::string_view kRunsColumn = "runs";
inline constexpr std::string_view kSeedColumn = "seed";
inline constexpr std::string_view kTimeColumn = "t";
inline constexpr std::string_view kStatusColumn = "status";
inline constexpr std::string_view kMeanLevelColumn = "mean_level";

// A simulated study's columns: the number of runs asked for and the seed.
struct SimulationColumns {
  std::int32_t runs = 0;
  std::uint64_t seed = 0;
  bool operator==(const SimulationColumns&) const = default;
};

// What a shard is: shard K of N of the study whose fingerprint is `study`
// (study/study_identity.hpp). Its "shard" row holds K in the t column, N in
// the status column and the fingerprint in the mean_level column; its
// "shard_end" row holds K and N likewise, the number of rows between the two
// in the mean_level column and the number of points in X1. Both carry the
// runs and seed columns of a simulated study. The "shard" row of a
// search's study (--find) holds in X1 the place of the searched parameter
// in the parameter table, from 1: the rows of one point differ in it.
struct ShardIdentity {
  std::int32_t k = 0;
  std::int32_t n = 1;
  std::uint64_t study = 0;
  bool operator==(const ShardIdentity&) const = default;
};

// One row, typed.
struct TableRow {
  Source source = Source::model;
  Point point;                                  // all but the shard rows
  std::optional<SimulationColumns> simulation;  // the runs and seed columns
  std::optional<std::int64_t> t;                // empty in a stopped point's row
  std::int32_t status = 0;
  // model, simulation, simulation_ci95: mean_level then X1..Xl (NaN is an
  // empty field); the sum sources: the level sum's field then X1..Xl.
  std::vector<double> values;
  std::vector<simulation::uint128> counts;
  ShardIdentity shard;        // shard, shard_end
  std::int32_t searched = 0;  // shard: the searched parameter's place from 1; 0 for none
  std::uint64_t rows = 0;     // shard_end
  std::uint64_t points = 0;   // shard_end
};

// The X columns a table needs beside its points' blocks: a
// simulation_hitting row fills five.
inline constexpr std::int32_t kHittingSummaryColumns = 5;

// The rows a study writes, from its values. `simulation` fills the runs and
// seed columns of the simulation's rows.
// A model row: tail[j - 1] is X_j, the mean level their sum.
TableRow model_row(const Point& point, std::int64_t t, std::span<const double> tail);
// The row of a point that stopped before it reported: t and the values
// empty, the stop number as its status.
TableRow stopped_row(const Point& point, int status);
// The "simulation" and "simulation_ci95" rows of report `report`.
std::array<TableRow, 2> summary_rows(const Point& point, const SimulationColumns& simulation,
                                     const simulation::Summary& summary, std::int64_t report,
                                     std::int64_t t);
// The three rows of exact sums of report `report`.
std::array<TableRow, 3> sum_rows(const Point& point, const SimulationColumns& simulation,
                                 const simulation::RunTotals& totals, std::int64_t report,
                                 std::int64_t t);
// A "threshold" or "hitting" row: the model's values at t, or, without a
// tail, the row that says there is none.
TableRow model_values_row(Source source, const Point& point, std::optional<std::int64_t> t,
                          std::span<const double> tail);
TableRow simulation_hitting_row(const Point& point, const SimulationColumns& simulation,
                                const simulation::HittingSummary& summary);
std::vector<TableRow> simulation_hitting_count_rows(const Point& point,
                                                    const SimulationColumns& simulation,
                                                    const simulation::HittingTimes& times);

class CsvTable {
 public:
  explicit CsvTable(std::int32_t max_blocks) : max_blocks_(max_blocks) {}
  std::int32_t max_blocks() const { return max_blocks_; }

  // The header line, LF included.
  std::string header() const;
  // Appends the row's line, LF included.
  void append(std::string& out, const TableRow& row) const;

 private:
  std::int32_t max_blocks_;
};

}  // namespace blocklevels
