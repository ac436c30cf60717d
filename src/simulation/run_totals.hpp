// Exact sums over runs of what each run reports, and the estimates drawn from
// them. For each report time and level j = 1..blocks the totals hold the sums
// of k_j, the number of offspring at level >= j, and of k_j^2; for each report
// time the sums of the run's level sum L = k_1 + ... + k_blocks and of L^2;
// and the number of runs. Being integers they add exactly, so totals gathered
// in any grouping and order of runs are equal field for field.
//
// Why nothing overflows: every run breeds lambda offspring of at least
// `blocks` positions per generation, so runs * lambda * blocks is below the
// number of positions copied altogether, which stays far below 2^64 (at one
// position per nanosecond that is 580 years). Hence sum k < 2^64, sum L < 2^64,
// and n * sum k^2 <= (runs * lambda)^2, n * sum L^2 <= (runs * lambda * blocks)^2
// stay below 2^128, which is what summarize() computes with.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <vector>

#include "simulation/zeroed_allocator.hpp"

namespace blocklevels::simulation {

__extension__ typedef unsigned __int128 uint128;

// When each run's quantity first reached a value (a hitting time): per
// generation, how many runs reached it then, and how many never did by the
// final generation. Counts add exactly, like the sums.
struct HittingTimes {
  std::map<std::int64_t, std::uint64_t> first;  // generation -> runs
  std::uint64_t never = 0;

  void add(const HittingTimes& other);
  bool operator==(const HittingTimes&) const = default;
};

class RunTotals {
 public:
  // All sums zero, for `reports` report times and levels 1..blocks.
  RunTotals(std::int64_t reports, std::int32_t blocks);

  // The bytes such totals allocate, without the hitting times (one map node
  // per generation at which a run first reached the value, at most one per
  // run, and one per run for its own time).
  static std::uint64_t allocated_bytes(std::int64_t reports, std::int32_t blocks);

  // Adds report `report` of one run: level_histogram[i] offspring at level i,
  // i = 0..blocks.
  void add_report(std::int64_t report, std::span<const std::int32_t> level_histogram);
  // Counts one run whose every report has been added.
  void count_run() { ++runs_; }

  // Adds totals of the same shape.
  void add(const RunTotals& other);
  // Adds sums read back from a table, for totals of one report time: `runs`
  // runs, sums[0] and squares[0] of the level sum L, sums[j] and squares[j]
  // of k_j, j = 1..blocks.
  void add_sums(std::uint64_t runs, std::span<const std::uint64_t> sums,
                std::span<const uint128> squares);

  std::int64_t reports() const { return reports_; }
  std::int32_t blocks() const { return blocks_; }
  std::uint64_t runs() const { return runs_; }
  // Level j in 1..blocks.
  std::uint64_t sum_at_least(std::int64_t report, std::int32_t j) const;
  uint128 sum_at_least_squared(std::int64_t report, std::int32_t j) const;
  std::uint64_t sum_level(std::int64_t report) const;
  uint128 sum_level_squared(std::int64_t report) const;

  // The hitting times, when the runs were asked for them: counted, and each
  // run's own (run -> its time; nothing: never by the final generation).
  HittingTimes& hitting() { return hitting_; }
  const HittingTimes& hitting() const { return hitting_; }
  using RunHittingTimes = std::map<std::uint64_t, std::optional<std::int64_t>>;
  RunHittingTimes& run_hitting() { return run_hitting_; }
  const RunHittingTimes& run_hitting() const { return run_hitting_; }

  bool operator==(const RunTotals&) const = default;

 private:
  std::size_t index(std::int64_t report, std::int32_t j) const;

  std::int64_t reports_;
  std::int32_t blocks_;
  std::uint64_t runs_ = 0;
  // Sized once, in the constructor: zeros whose pages are taken as the
  // reports are added.
  template <class T>
  using Sums = std::vector<T, ZeroedAllocator<T>>;
  Sums<std::uint64_t> at_least_;    // [report * blocks + j - 1]
  Sums<uint128> at_least_squared_;  // [report * blocks + j - 1]
  Sums<std::uint64_t> level_;       // [report]
  Sums<uint128> level_squared_;     // [report]
  HittingTimes hitting_;
  RunHittingTimes run_hitting_;
};

// A mean over runs and the half-width of its 95 % confidence interval:
// Student's t quantile for n - 1 degrees of freedom times the sample standard
// deviation over sqrt(n). NaN where n is too small (mean for n = 0,
// half_width for n < 2).
struct Estimate {
  double mean;
  double half_width;
};

struct Summary {
  std::uint64_t runs = 0;
  std::int32_t blocks = 0;
  std::vector<Estimate> fraction;    // of k_j / lambda: [report * blocks + j - 1]
  std::vector<Estimate> mean_level;  // of L / lambda: [report]

  const Estimate& fraction_at(std::int64_t report, std::int32_t j) const {
    return fraction[static_cast<std::size_t>(report) * static_cast<std::size_t>(blocks) +
                    static_cast<std::size_t>(j - 1)];
  }
};

// Evaluated in long double from the exact integers and rounded to double
// once, so equal totals give bit-for-bit equal summaries.
Summary summarize(const RunTotals& totals, std::int32_t lambda);

}  // namespace blocklevels::simulation
