// What the runs' hitting times say, treating the runs that did not reach
// the value by the final generation as what they are: right-censored at
// the final generation, not left out. Every run is censored at the same
// time, so the Kaplan-Meier estimate of P(T <= t) is the share of all runs
// that reached the value by t; its quantiles are the first generations at
// which that share reaches 1/4, 1/2 and 3/4, and none when it never does.
#pragma once

#include <cstdint>
#include <optional>

#include "simulation/run_totals.hpp"

namespace blocklevels::simulation {

struct HittingSummary {
  std::uint64_t runs = 0;     // every run, censored or not
  std::uint64_t reached = 0;  // the runs that reached the value by the final generation
  // reached / runs, and its 95 % (Wilson score) interval.
  double success_rate = 0, success_low = 0, success_high = 0;
  // The Kaplan-Meier quartiles of the hitting time; none where fewer than
  // that share of the runs reached the value.
  std::optional<std::int64_t> lower_quartile, median, upper_quartile;
  // The mean of min(T, final): the mean hitting time restricted to the
  // final generation, a censored run counting as the final generation.
  double restricted_mean = 0;
  // The expected running time in evaluations: the offspring evaluated in
  // all runs, each until it reached the value or the final generation
  // ended it, divided by the runs that reached it; none when none did.
  std::optional<double> evaluations;

  bool operator==(const HittingSummary&) const = default;
};

// The summary of `times`, whose runs ended at `final`, each generation
// evaluating `lambda` offspring. Computed in extended precision, each value
// rounded to double once.
HittingSummary summarize_hitting(const HittingTimes& times, std::int64_t final,
                                 std::int32_t lambda);

}  // namespace blocklevels::simulation
