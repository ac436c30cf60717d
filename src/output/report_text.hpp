// The report file's header and the report lines of the console and the
// report file, as the dialogue has always written them.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "model/model_run.hpp"
#include "parameters/point_parameters.hpp"
#include "runtime/text_stream.hpp"
#include "text/number_text.hpp"

namespace blocklevels {

// The eight header lines: block length, blocks, two-option positions,
// chromosome length, fitness levels, lambda, Pmut (5 decimals) and mu.
void write_report_header(runtime::OutputStream& file, const PointParameters& p);

// Writes, for each report, the console line (three decimals) and the report
// file's line (six decimals) of the three highest levels, and the file's
// opening line when the run starts. Either stream may be absent. A failed
// write throws Stop with its number, placed at the write statement.
class ReportLines final : public ModelSink {
 public:
  ReportLines(runtime::OutputStream* console, runtime::OutputStream* file, std::int32_t blocks);

  void start(std::int64_t first_report) override;
  void report(std::int64_t t, std::span<const double> tail) override;

 private:
  // A report line without its t: the text between the places where t goes.
  // Runs that have settled into a fixed point or a cycle report the same
  // few vectors over and over, so the lines of the last kRecent distinct
  // ones are kept, and such a report only writes t into a kept line.
  struct LineTemplate {
    std::string text;
    std::size_t cuts[3] = {};  // t goes before text[cuts[n]], n < shown
    // The last line made from it, and the report that made it: when that
    // was the previous report and t kept its length, only the digits of t
    // that changed are written over the old ones.
    std::string line;
    std::size_t t_length = 0;
    std::uint64_t made_at = 0;
  };
  struct RecentLines {
    std::uint64_t bits[3] = {};  // the values' bit patterns
    LineTemplate console, file;
  };
  RecentLines& lines_of(std::span<const double> tail);
  void fill_template(LineTemplate& line, std::string_view second_label, const FixedFigure* figures,
                     int width, int decimals, std::string_view line_end) const;
  void write_report(runtime::OutputStream& out, LineTemplate& line) const;
  // Makes t_ the decimal text of t, adding to the previous t in place when
  // it can; unchanged_ is then how many leading digits stayed as they were.
  void advance_t(std::int64_t t);

  static constexpr std::size_t kRecent = 8;
  runtime::OutputStream* console_;
  runtime::OutputStream* file_;
  std::int32_t shown_;  // levels on a line: min(l, 3)
  RecentLines recent_[kRecent];
  std::size_t recent_count_ = 0;
  std::size_t next_slot_ = 0;
  std::size_t last_ = 0;  // the slot found or filled last
  char t_[kIntegerTextCapacity] = {};
  std::size_t t_length_ = 0;
  std::size_t unchanged_ = 0;
  std::int64_t t_value_ = -1;
  std::uint64_t reports_ = 0;  // reports written so far
};

}  // namespace blocklevels
