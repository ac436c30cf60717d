// The model check of a point simulated beside its model: the largest
// distance, in 95 % half-widths of the simulated means, between the
// simulated mean and the model's value, over every report time and every
// quantity (the mean level and X1..Xl), and where it is.
//
// A half-width of 0 means that every run gave the same value. A difference
// of exactly 0 then counts as 0; any other difference is measured against
// the least nonzero half-width the runs could have shown, t/(R lambda):
// that of R runs of which one differs from the others by one offspring (a
// fraction, or a level sum, of 1/lambda). So a model value of 1 - 1e-12
// against runs that all gave 1 is close, one of 0.9 is far, and neither is
// infinite. `equal_runs` says that this least half-width was used.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "parameters/point_parameters.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

struct ModelReport;
struct SimulationReport;

// A distance above this many half-widths is warned of.
inline constexpr double kModelCheckWarning = 3.0;

struct ModelCheck {
  double distance = 0;     // half-widths; finite, never NaN
  std::int64_t t = 0;      // the report time of the largest distance
  std::int32_t level = 0;  // its quantity: 0 the mean level, j X_j
  double model_value = 0;
  simulation::Estimate simulated{};
  bool equal_runs = false;  // every run gave the simulated mean there

  bool operator==(const ModelCheck&) const = default;
};

// Whether the check is warned of: a distance above kModelCheckWarning.
inline bool check_warns(const ModelCheck& check) {
  return check.distance > kModelCheckWarning;
}

// "mean_level" or "X<j>": the check's quantity as tables name it.
std::string checked_quantity(const ModelCheck& check);

// The check of `runs` simulated runs of the point `p` against the model's
// reports: each simulated report is compared with the model's report of
// the same time (the model's mean level summed as the table sums it).
// Nothing when fewer than 2 runs were simulated or no time is in both.
// The first of equal distances counts, in time order and, within a time,
// in the order mean level, X1, ..., Xl.
std::optional<ModelCheck> check_model(const PointParameters& p, std::uint64_t runs,
                                      std::span<const ModelReport> model,
                                      std::span<const SimulationReport> simulated);

}  // namespace blocklevels
