#include "simulation/run_totals.hpp"

#include <cassert>
#include <cmath>
#include <limits>

#include "arithmetic/extended_arithmetic.hpp"
#include "simulation/student_t.hpp"

namespace blocklevels::simulation {

RunTotals::RunTotals(std::int64_t reports, std::int32_t blocks)
    : reports_(reports),
      blocks_(blocks),
      at_least_(static_cast<std::size_t>(reports) * static_cast<std::size_t>(blocks)),
      at_least_squared_(at_least_.size()),
      level_(static_cast<std::size_t>(reports)),
      level_squared_(level_.size()) {
  assert(reports >= 1 && blocks >= 1);
}

std::uint64_t RunTotals::allocated_bytes(std::int64_t reports, std::int32_t blocks) {
  // Below 2^31 * 2^11 * 24 + ..., far from 2^64.
  const auto r = static_cast<std::uint64_t>(reports);
  const auto b = static_cast<std::uint64_t>(blocks);
  constexpr std::uint64_t kPerSum = sizeof(std::uint64_t) + sizeof(uint128);
  return r * b * kPerSum + r * kPerSum + sizeof(RunTotals);
}

std::size_t RunTotals::index(std::int64_t report, std::int32_t j) const {
  assert(report >= 0 && report < reports_ && j >= 1 && j <= blocks_);
  return static_cast<std::size_t>(report) * static_cast<std::size_t>(blocks_) +
         static_cast<std::size_t>(j - 1);
}

void RunTotals::add_report(std::int64_t report, std::span<const std::int32_t> level_histogram) {
  assert(level_histogram.size() == static_cast<std::size_t>(blocks_) + 1);
  // k_j accumulates from the top level down; L <= blocks * lambda < 2^62.
  std::uint64_t k = 0;
  std::uint64_t level_sum = 0;
  for (std::int32_t j = blocks_; j >= 1; --j) {
    k += static_cast<std::uint64_t>(level_histogram[static_cast<std::size_t>(j)]);
    const std::size_t i = index(report, j);
    at_least_[i] += k;
    at_least_squared_[i] += uint128{k} * k;
    level_sum += k;
  }
  const auto r = static_cast<std::size_t>(report);
  level_[r] += level_sum;
  level_squared_[r] += uint128{level_sum} * level_sum;
}

void HittingTimes::add(const HittingTimes& other) {
  for (const auto& [t, runs] : other.first) first[t] += runs;
  never += other.never;
}

void RunTotals::add(const RunTotals& other) {
  assert(other.reports_ == reports_ && other.blocks_ == blocks_);
  runs_ += other.runs_;
  hitting_.add(other.hitting_);
  // Disjoint sets of runs: no run is in both.
  run_hitting_.insert(other.run_hitting_.begin(), other.run_hitting_.end());
  for (std::size_t i = 0; i < at_least_.size(); ++i) {
    at_least_[i] += other.at_least_[i];
    at_least_squared_[i] += other.at_least_squared_[i];
  }
  for (std::size_t r = 0; r < level_.size(); ++r) {
    level_[r] += other.level_[r];
    level_squared_[r] += other.level_squared_[r];
  }
}

void RunTotals::add_sums(std::uint64_t runs, std::span<const std::uint64_t> sums,
                         std::span<const uint128> squares) {
  assert(reports_ == 1 && sums.size() == static_cast<std::size_t>(blocks_) + 1 &&
         squares.size() == sums.size());
  runs_ += runs;
  level_[0] += sums[0];
  level_squared_[0] += squares[0];
  for (std::int32_t j = 1; j <= blocks_; ++j) {
    at_least_[index(0, j)] += sums[static_cast<std::size_t>(j)];
    at_least_squared_[index(0, j)] += squares[static_cast<std::size_t>(j)];
  }
}

std::uint64_t RunTotals::sum_at_least(std::int64_t report, std::int32_t j) const {
  return at_least_[index(report, j)];
}

uint128 RunTotals::sum_at_least_squared(std::int64_t report, std::int32_t j) const {
  return at_least_squared_[index(report, j)];
}

std::uint64_t RunTotals::sum_level(std::int64_t report) const {
  return level_[static_cast<std::size_t>(report)];
}

uint128 RunTotals::sum_level_squared(std::int64_t report) const {
  return level_squared_[static_cast<std::size_t>(report)];
}

namespace {

// The estimate of the mean of x / scale from n samples of x with sum s and
// sum of squares q. n q - s^2 >= 0 (Cauchy-Schwarz) is the exact integer
// n (n - 1) times the sample variance of x.
Estimate estimate(std::uint64_t n, std::uint64_t s, uint128 q, long double scale,
                  long double t_quantile) {
  const long double nan = std::numeric_limits<long double>::quiet_NaN();
  const auto count = static_cast<long double>(n);
  const long double mean = n == 0 ? nan : static_cast<long double>(s) / (count * scale);
  long double half_width = nan;
  if (n >= 2) {
    const uint128 spread = uint128{n} * q - uint128{s} * s;
    const long double variance = static_cast<long double>(spread) / (count * (count - 1.0L));
    half_width = t_quantile * std::sqrt(variance / count) / scale;
  }
  return {static_cast<double>(mean), static_cast<double>(half_width)};
}

}  // namespace

Summary summarize(const RunTotals& totals, std::int32_t lambda) {
  assert(lambda >= 1);
  const ExtendedArithmetic arithmetic;
  Summary summary;
  summary.runs = totals.runs();
  summary.blocks = totals.blocks();
  const std::uint64_t n = totals.runs();
  const long double t = n >= 2 ? student_t_975(n - 1) : 0.0L;
  const auto scale = static_cast<long double>(lambda);
  for (std::int64_t r = 0; r < totals.reports(); ++r) {
    for (std::int32_t j = 1; j <= totals.blocks(); ++j) {
      summary.fraction.push_back(
          estimate(n, totals.sum_at_least(r, j), totals.sum_at_least_squared(r, j), scale, t));
    }
    summary.mean_level.push_back(
        estimate(n, totals.sum_level(r), totals.sum_level_squared(r), scale, t));
  }
  return summary;
}

}  // namespace blocklevels::simulation
