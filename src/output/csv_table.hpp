// The CSV table: one header line, then one row per report time per point,
// LF line ends. Columns: source, the point's parameters (the parameter
// table's CSV columns), t, status, mean_level, X1 .. XL, where L is the
// largest `blocks` of the table and fields beyond a point's own blocks are
// empty. Numbers are the shortest text that reads back to the same double;
// pmut is as the point names it. Rows are made from typed values only.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "parameters/point_parameters.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

// The rows' sources. A whole simulation writes, per report time, a
// "simulation" row (the means over the runs of the fraction of the offspring
// at level >= j, and of the mean level) and a "simulation_ci95" row (the
// half-widths of their 95 % confidence intervals). A shard of the runs
// writes instead its exact integer sums, per report time a
// "simulation_runs" row (the number of runs in every value field), a
// "simulation_sum" row (the sums over the runs of the number of offspring
// at level >= j, and of the level sum) and a "simulation_sum_of_squares"
// row, which merging adds up exactly.
inline constexpr std::string_view kModelSource = "model";
inline constexpr std::string_view kSimulationSource = "simulation";
inline constexpr std::string_view kSimulationCiSource = "simulation_ci95";
inline constexpr std::string_view kRunsSource = "simulation_runs";
inline constexpr std::string_view kSumSource = "simulation_sum";
inline constexpr std::string_view kSumOfSquaresSource = "simulation_sum_of_squares";

// The buffer of a table's stream: large, since whole rows are what count.
inline constexpr std::size_t kTableBufferSize = std::size_t{1} << 16;

// The columns before a row's values.
inline constexpr std::string_view kTimeColumn = "t";
inline constexpr std::string_view kStatusColumn = "status";
inline constexpr std::string_view kMeanLevelColumn = "mean_level";

// The values' sum, added in level order in extended precision and rounded
// to double: a model row's mean level.
double sum_in_level_order(std::span<const double> tail);

class CsvTable {
 public:
  explicit CsvTable(std::int32_t max_blocks) : max_blocks_(max_blocks) {}
  std::int32_t max_blocks() const { return max_blocks_; }

  // The header line, LF included.
  std::string header() const;

  // Each appends whole rows, LF included.
  // A model row: tail[j - 1] is X_j, the mean level their sum.
  void model_row(std::string& out, const Point& point, std::int64_t t,
                 std::span<const double> tail) const;
  // The row of a point that stopped before it reported: t and the values
  // empty, the stop number as its status.
  void stopped_row(std::string& out, const Point& point, int status) const;
  // The "simulation" and "simulation_ci95" rows of report `report`.
  void summary_rows(std::string& out, const Point& point, const simulation::Summary& summary,
                    std::int64_t report, std::int64_t t) const;
  // The three rows of exact sums of report `report`.
  void sum_rows(std::string& out, const Point& point, const simulation::RunTotals& totals,
                std::int64_t report, std::int64_t t) const;

 private:
  void row_head(std::string& out, std::string_view source, const Point& point, std::string_view t,
                std::string_view status) const;
  void values(std::string& out, double mean_level, std::span<const double> values) const;

  std::int32_t max_blocks_;
};

}  // namespace blocklevels
