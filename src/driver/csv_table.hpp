// The CSV table: one header line, then one row per report time per point,
// LF line ends. Columns: source, lambda, mu, pmut, block_length,
// two_option, blocks, t, status, mean_level, X1 .. XL, where L is the
// largest `blocks` of the table and fields beyond a point's own blocks are
// empty. Numbers are the shortest text that reads back to the same double;
// pmut is as typed.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "driver/study.hpp"
#include "model/model_run.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels {

std::string csv_header(std::int32_t max_blocks);

// The fields of a row (without its LF), split at the commas: no field the
// program writes holds one.
std::vector<std::string_view> csv_fields(std::string_view row);

// Appends the shortest text of v that reads back to the same double;
// nothing for NaN (an undefined value is an empty field).
void append_shortest(std::string& out, double v);

// The values' sum, added in level order in extended precision and rounded
// to double: a model row's mean level.
double sum_in_level_order(std::span<const double> values);

// The start of a row: "source,<point's parameters>,t,0,".
void append_row_head(std::string& out, std::string_view source, const StudyPoint& point,
                     std::int64_t t);

// One row: "source,<point's parameters>,t,0,mean_level,X1..Xl", padded with
// empty fields to max_blocks, and LF.
void append_row(std::string& out, std::string_view source, const StudyPoint& point,
                std::int32_t max_blocks, std::int64_t t, double mean_level,
                std::span<const double> values);

// The row of a point that stopped before it reported: t and the values
// empty, the stop number as its status.
void append_stopped_row(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                        int status);

// Writes a model run's rows (source "model") to a stream, one write
// statement per row; with `last_only`, only the row of the last report.
class ModelRows final : public ModelSink {
 public:
  ModelRows(runtime::OutputStream& out, const StudyPoint& point, std::int32_t max_blocks,
            bool last_only)
      : out_(out), point_(point), max_blocks_(max_blocks), last_only_(last_only) {}

  void start(std::int64_t) override {}
  void report(std::int64_t t, std::span<const double> tail) override;

 private:
  runtime::OutputStream& out_;
  const StudyPoint& point_;
  std::int32_t max_blocks_;
  bool last_only_;
  std::string row_;
};

}  // namespace blocklevels
