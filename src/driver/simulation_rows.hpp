// The CSV rows of a point's simulated runs. A whole simulation writes, per
// report time, a "simulation" row (the means over the runs of the fraction
// of the offspring at level >= j, and of the mean level) and a
// "simulation_ci95" row (the half-widths of their 95 % confidence
// intervals). A shard of the runs writes instead its exact integer sums, per
// report time a "simulation_runs" row (the number of runs in every value
// field), a "simulation_sum" row (the sums over the runs of the number of
// offspring at level >= j, and of the level sum) and a
// "simulation_sum_of_squares" row, which merging adds up exactly.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "driver/study.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

inline constexpr std::string_view kSimulationSource = "simulation";
inline constexpr std::string_view kSimulationCiSource = "simulation_ci95";
inline constexpr std::string_view kRunsSource = "simulation_runs";
inline constexpr std::string_view kSumSource = "simulation_sum";
inline constexpr std::string_view kSumOfSquaresSource = "simulation_sum_of_squares";

// The "simulation" and "simulation_ci95" rows of report `report` of the
// summary, labelled with time t.
void append_summary_rows(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                         const simulation::Summary& summary, std::int64_t report, std::int64_t t);

// The three rows of partial sums of report `report`, labelled with time t.
void append_partial_rows(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                         const simulation::RunTotals& totals, std::int64_t report, std::int64_t t);

// Reads the value fields of three partial rows (runs, sums, sums of squares:
// the mean level field, then X1..Xl) back into a one-report total. False
// when a field is not an integer of its kind or the runs disagree.
bool read_partial_rows(const std::vector<std::string_view>& runs,
                       const std::vector<std::string_view>& sums,
                       const std::vector<std::string_view>& squares, std::int32_t blocks,
                       simulation::RunTotals& totals);

}  // namespace blocklevels
