// What a point's worker tells the study, as typed records on a pipe or in a
// file: its results (results/point_result.hpp), the point they are of when
// it changes (a search's crossing), and how far it has come. A record is a
// header, its kind and its payload's size (32 bits each), then the payload,
// all in the machine's own byte order: records never leave the machine.
#pragma once

#include <cstdint>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "results/point_result.hpp"

namespace blocklevels::records {

// How far a point has come: the model's report time last reached, and the
// simulated runs done of those to do.
struct Progress {
  std::int64_t t = 0;
  std::uint64_t runs_done = 0;
  std::uint64_t runs_total = 0;
};

// The point of the results that follow.
struct PointChange {
  Point point;
};

using Record = std::variant<PointChange, ModelReport, SimulationReport, ShardSums, ModelHitting,
                            HittingCounts, HittingSummary, Threshold, ThresholdGrid, Stopped,
                            ModelChecked, Progress, SimulatedThreshold, HittingRun>;

// Bytes that no writer makes: a fault of the program, never of a point.
class RecordError : public std::exception {
 public:
  explicit RecordError(const char* why) : why_(why) {}
  const char* what() const noexcept override { return why_; }

 private:
  const char* why_;
};

// Appends a record's bytes to `out`.
void append(std::string& out, const Record& record);

// Collects bytes as they arrive and hands out whole records.
class Reader {
 public:
  void feed(std::string_view bytes) { pending_.append(bytes); }
  // The next whole record, or nothing while its bytes are still to come.
  // Throws RecordError for bytes that no writer makes.
  std::optional<Record> next();
  // Bytes of a record not yet whole.
  bool holds_partial() const { return consumed_ < pending_.size(); }

 private:
  std::string pending_;
  std::size_t consumed_ = 0;
};

}  // namespace blocklevels::records
