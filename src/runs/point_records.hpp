// What a point's process tells the study's process, as typed records on a
// pipe. A record is a header, its kind and its payload's size (32 bits
// each), then the payload, all in the machine's own byte order: the pipe
// never leaves the machine. The study's process alone turns records into
// CSV rows, summary lines and figures.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "simulation/run_totals.hpp"

namespace blocklevels::records {

enum class Kind : std::uint32_t {
  model_report = 1,        // the model's tail vector at a report time
  simulation_report = 2,   // the simulated runs' exact sums at a report time
  progress = 3,            // simulated runs done so far
  failure = 4,             // the point stopped; nothing follows
  hitting = 5,             // the model's hitting time and its tail vector then
  threshold = 6,           // a crossing found by --find (or that there is none)
  threshold_grid = 7,      // the search's grid: the parameter's values and the quantity
  simulation_hitting = 8,  // the simulated runs' hitting times, counted
};

struct ModelReport {
  std::int64_t t = 0;
  std::vector<double> tail;  // tail[j - 1] = X_j
};

// The totals of the runs at one report time, as simulation::RunTotals holds
// them for a single report.
struct SimulationReport {
  std::int64_t t = 0;
  std::uint64_t runs = 0;
  std::uint64_t level_sum = 0;
  simulation::uint128 level_sum_of_squares = 0;
  std::vector<std::uint64_t> sums;                  // [j - 1], j = 1..blocks
  std::vector<simulation::uint128> sum_of_squares;  // [j - 1]

  // Totals of one report, ready to summarise or to write as sums.
  simulation::RunTotals totals() const;
};

// How far a point has come: the model's report time last reached, and the
// simulated runs done of those to do.
struct Progress {
  std::int64_t t = 0;
  std::uint64_t runs_done = 0;
  std::uint64_t runs_total = 0;
};

struct Failure {
  std::int32_t number = 0;  // the stop number
  std::uint32_t place = 0;  // the place as the stop report writes it
};

// The first generation at which the model's quantity reached the value, 0
// for none by the final generation, and the tail vector then.
struct Hitting {
  std::int64_t t = 0;
  std::vector<double> tail;
};

// A crossing: the searched parameter's value (exact, and as its row writes
// it) and the tail vector at the final report there. No text: no crossing.
struct Threshold {
  long double value = 0.0L;
  std::string text;
  std::vector<double> tail;
};

struct ThresholdGrid {
  std::vector<long double> values;
  std::vector<double> quantity;
};

struct SimulationHitting {
  simulation::HittingTimes times;
};

using Record = std::variant<ModelReport, SimulationReport, Progress, Failure, Hitting, Threshold,
                            ThresholdGrid, SimulationHitting>;

// Appends a record's bytes to `out`.
void append(std::string& out, const ModelReport& r);
void append(std::string& out, const SimulationReport& r);
void append(std::string& out, const Progress& r);
void append(std::string& out, const Failure& r);
void append(std::string& out, const Hitting& r);
void append(std::string& out, const Threshold& r);
void append(std::string& out, const ThresholdGrid& r);
void append(std::string& out, const SimulationHitting& r);

// Report `report` of `totals` as a record labelled with time t.
SimulationReport simulation_report(const simulation::RunTotals& totals, std::int64_t report,
                                   std::int64_t t);

// Collects bytes as they arrive and hands out whole records.
class Reader {
 public:
  void feed(std::string_view bytes) { pending_.append(bytes); }
  // The next whole record, or nothing while its bytes are still to come.
  // Throws std::runtime_error for bytes that no writer makes.
  std::optional<Record> next();
  // Bytes of a record not yet whole.
  bool holds_partial() const { return consumed_ < pending_.size(); }

 private:
  std::string pending_;
  std::size_t consumed_ = 0;
};

}  // namespace blocklevels::records
