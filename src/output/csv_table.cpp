#include "output/csv_table.hpp"

#include <charconv>
#include <vector>

#include "arithmetic/extended_arithmetic.hpp"
#include "parameters/parameter_table.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

void append_integer(std::string& out, std::int64_t v) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

void append_unsigned(std::string& out, uint128 v) {
  char digits[40];
  std::size_t n = sizeof digits;
  do {
    digits[--n] = static_cast<char>('0' + static_cast<int>(v % 10));
    v /= 10;
  } while (v != 0);
  out.append(digits + n, sizeof digits - n);
}

// Empty fields from `written` values up to the table's width.
void pad(std::string& out, std::size_t written, std::int32_t max_blocks) {
  for (std::size_t j = written; j < static_cast<std::size_t>(max_blocks); ++j) out += ',';
}

}  // namespace

double sum_in_level_order(std::span<const double> tail) {
  const ExtendedArithmetic arithmetic;
  long double sum = 0.0L;
  for (const double v : tail) sum += v;
  return static_cast<double>(sum);
}

std::string CsvTable::header() const {
  std::string header = "source";
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.csv_column) continue;
    header += ',';
    header += d.name;
  }
  header += ',';
  header += kTimeColumn;
  header += ',';
  header += kStatusColumn;
  header += ',';
  header += kMeanLevelColumn;
  for (std::int32_t j = 1; j <= max_blocks_; ++j) {
    header += ",X";
    append_integer(header, j);
  }
  header += '\n';
  return header;
}

void CsvTable::row_head(std::string& out, std::string_view source, const Point& point,
                        std::string_view t, std::string_view status) const {
  out += source;
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.csv_column) continue;
    out += ',';
    out += parameter_text(point, d);
  }
  out += ',';
  out += t;
  out += ',';
  out += status;
  out += ',';
}

void CsvTable::values(std::string& out, double mean_level, std::span<const double> values) const {
  append_shortest(out, mean_level);
  for (const double v : values) {
    out += ',';
    append_shortest(out, v);
  }
  pad(out, values.size(), max_blocks_);
  out += '\n';
}

void CsvTable::model_row(std::string& out, const Point& point, std::int64_t t,
                         std::span<const double> tail) const {
  std::string time;
  append_integer(time, t);
  row_head(out, kModelSource, point, time, "0");
  values(out, sum_in_level_order(tail), tail);
}

void CsvTable::stopped_row(std::string& out, const Point& point, int status) const {
  std::string number;
  append_integer(number, status);
  row_head(out, kModelSource, point, "", number);
  pad(out, 0, max_blocks_);
  out += '\n';
}

void CsvTable::summary_rows(std::string& out, const Point& point,
                            const simulation::Summary& summary, std::int64_t report,
                            std::int64_t t) const {
  const auto l = static_cast<std::size_t>(point.p.blocks);
  std::vector<double> means(l), half_widths(l);
  for (std::int32_t j = 1; j <= point.p.blocks; ++j) {
    const simulation::Estimate& e = summary.fraction_at(report, j);
    means[static_cast<std::size_t>(j - 1)] = e.mean;
    half_widths[static_cast<std::size_t>(j - 1)] = e.half_width;
  }
  const simulation::Estimate& level = summary.mean_level[static_cast<std::size_t>(report)];
  std::string time;
  append_integer(time, t);
  row_head(out, kSimulationSource, point, time, "0");
  values(out, level.mean, means);
  row_head(out, kSimulationCiSource, point, time, "0");
  values(out, level.half_width, half_widths);
}

void CsvTable::sum_rows(std::string& out, const Point& point, const simulation::RunTotals& totals,
                        std::int64_t report, std::int64_t t) const {
  std::string time;
  append_integer(time, t);
  // The level sum's field, then X1..Xl.
  auto row = [&](std::string_view source, auto field) {
    row_head(out, source, point, time, "0");
    append_unsigned(out, field(0));
    for (std::int32_t j = 1; j <= point.p.blocks; ++j) {
      out += ',';
      append_unsigned(out, field(j));
    }
    pad(out, static_cast<std::size_t>(point.p.blocks), max_blocks_);
    out += '\n';
  };
  row(kRunsSource, [&](std::int32_t) { return uint128{totals.runs()}; });
  row(kSumSource, [&](std::int32_t j) {
    return uint128{j == 0 ? totals.sum_level(report) : totals.sum_at_least(report, j)};
  });
  row(kSumOfSquaresSource, [&](std::int32_t j) {
    return j == 0 ? totals.sum_level_squared(report) : totals.sum_at_least_squared(report, j);
  });
}

}  // namespace blocklevels
