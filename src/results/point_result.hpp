// What a point of a study gives, as typed values: the stream that the
// point's runner produces and that every sink consumes (the CSV table, the
// summary line, the figure, the Python DataFrame, resume and merge). Each
// kind holds the numbers it means and nothing else; only the table's
// layout (output/table_layout.hpp) knows how a kind is written as rows.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "parameters/point_parameters.hpp"
#include "results/model_check.hpp"
#include "search/threshold_search.hpp"
#include "simulation/hitting_summary.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

// The model's tail vector after t generations: tail[j - 1] = X_j.
struct ModelReport {
  std::int64_t t = 0;
  std::vector<double> tail;
};

// The simulated runs at one report time: the means over the runs of the
// level and of each X_j, with the half-widths of their 95 % intervals
// (simulation::summarize).
struct SimulationReport {
  std::int64_t t = 0;
  simulation::Estimate level{};
  std::vector<simulation::Estimate> fractions;  // [j - 1]
};

// A shard's exact sums over its runs at one report time: totals of one
// report, which merging adds up exactly.
struct ShardSums {
  std::int64_t t = 0;
  simulation::RunTotals totals{1, 0};
};

// The first generation at which the model's quantity reached the value,
// and the tail vector then; nothing when it did not by the final generation.
struct ModelHitting {
  std::optional<std::int64_t> t;
  std::vector<double> tail;
};

// The simulated runs' hitting times: a shard's counts, merged exactly...
struct HittingCounts {
  simulation::HittingTimes times;
};
// ...and a whole study's summary of them.
struct HittingSummary {
  simulation::HittingSummary summary;
};
// One run's own hitting time (run numbers from 0, as the runs draw their
// randomness): nothing when it did not reach the value by the final
// generation. A point gives one per run, in the order of the runs, after
// the summary (or a shard's counts), when the study asks for them.
struct HittingRun {
  std::uint64_t run = 0;
  std::optional<std::int64_t> t;
  bool operator==(const HittingRun&) const = default;
};

// A crossing found by a search: the point at the crossing (the searched
// parameter at the value found), the bracket the search narrowed it to, its
// direction and the model's tail vector there at the final generation.
// Without a crossing, `found` is false and the rest says nothing.
struct Threshold {
  bool found = false;
  long double lower = 0, upper = 0;
  Direction direction = Direction::falling;
  std::int64_t t = 0;
  std::vector<double> tail;
};

// A crossing of the simulated quantity (points/simulated_search.hpp): the
// point at the estimate (where the runs' mean crosses the value), the
// interval in which the runs' 95 % band contains the value and the
// direction. Without a crossing, `found` is false and the rest says
// nothing. The runs at the estimate follow as the point's simulation.
struct SimulatedThreshold {
  bool found = false;
  long double lower = 0, upper = 0;
  Direction direction = Direction::falling;
};

// The search's grid: the parameter's values and the quantity at each. Only
// a figure draws it; the table does not hold it.
struct ThresholdGrid {
  std::vector<long double> values;
  std::vector<double> quantity;
};

// The point stopped: its stop number (or 128 + the signal that ended its
// process) and the place of the stop where it is known (not in a table).
struct Stopped {
  int status = 0;
  bool by_signal = false;
  std::optional<std::uint32_t> place;
};

// The model check of a point whose model ran beside two or more simulated
// runs (results/model_check.hpp), after the runs' results. No table row
// holds it: it is the model's and the simulation's rows compared, and a
// table read back gives it again from them.
struct ModelChecked {
  ModelCheck check;
};

// "falling" or "rising", as tables and messages say it.
std::string_view direction_name(Direction direction);

using ResultValue = std::variant<ModelReport, SimulationReport, ShardSums, ModelHitting,
                                 HittingCounts, HittingSummary, Threshold, ThresholdGrid, Stopped,
                                 ModelChecked, SimulatedThreshold, HittingRun>;

// One result and the point it is of: the study's point, or, for a search's
// crossing and the runs simulated there, the point at the crossing.
struct Result {
  Point point;
  ResultValue value;
};

// Consumes a study's results, point after point in the study's order.
class ResultSink {
 public:
  // `point` is the study's point (a search's with its searched parameter at
  // the range's low end), `number` its place in the study from 1.
  virtual void begin_point(const Point& /*point*/, std::size_t /*number*/) {}
  virtual void take(const Result& result) = 0;
  virtual void end_point() {}

 protected:
  ~ResultSink() = default;
};

}  // namespace blocklevels
