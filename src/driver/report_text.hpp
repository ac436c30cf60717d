// The report file's header and the report lines of the console and the
// report file, as the dialogue has always written them.
#pragma once

#include <cstdint>
#include <span>

#include "driver/number_text.hpp"
#include "model/model_run.hpp"
#include "model/run_parameters.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels {

// The eight header lines: block length, blocks, two-option positions,
// chromosome length, fitness levels, lambda, Pmut (5 decimals) and mu.
void write_report_header(runtime::OutputStream& file, const RunParameters& p);

// Writes, for each report, the console line (three decimals) and the report
// file's line (six decimals) of the three highest levels, and the file's
// opening line when the run starts. Either stream may be absent.
class ReportLines final : public ModelSink {
 public:
  ReportLines(runtime::OutputStream* console, runtime::OutputStream* file, std::int32_t blocks);

  void start(std::int64_t first_report) override;
  void report(std::int64_t t, std::span<const double> tail) override;

 private:
  // The 17-decimal figures of the three highest levels' values. Runs that
  // have settled into a fixed point or a cycle report the same few vectors
  // over and over, so the figures of the last kRecent distinct ones are kept.
  struct Figures {
    double values[3];
    FixedFigure figures[3];
  };
  const Figures& figures_of(std::span<const double> tail);

  static constexpr std::size_t kRecent = 8;
  runtime::OutputStream* console_;
  runtime::OutputStream* file_;
  std::int32_t shown_;  // levels on a line: min(l, 3)
  Figures recent_[kRecent] = {};
  std::size_t recent_count_ = 0;
  std::size_t next_slot_ = 0;
};

}  // namespace blocklevels
