#include "driver/csv_table.hpp"

#include <charconv>

#include "driver/write_statement.hpp"

namespace blocklevels {
namespace {

void append_integer(std::string& out, std::int64_t v) {
  char digits[24];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

void append_point(std::string& out, std::string_view source, const StudyPoint& point) {
  const RunParameters& p = point.p;
  out += source;
  out += ',';
  append_integer(out, p.lambda);
  out += ',';
  append_integer(out, p.mu);
  out += ',';
  out += point.pmut_text;
  for (const std::int32_t v : {p.block_length, p.two_option_positions, p.blocks}) {
    out += ',';
    append_integer(out, v);
  }
  out += ',';
}

void pad(std::string& out, std::size_t written, std::int32_t max_blocks) {
  for (std::size_t j = written; j < static_cast<std::size_t>(max_blocks); ++j) out += ',';
}

}  // namespace

std::string csv_header(std::int32_t max_blocks) {
  std::string header = "source,lambda,mu,pmut,block_length,two_option,blocks,t,status,mean_level";
  for (std::int32_t j = 1; j <= max_blocks; ++j) {
    header += ",X";
    append_integer(header, j);
  }
  header += '\n';
  return header;
}

std::vector<std::string_view> csv_fields(std::string_view row) {
  std::vector<std::string_view> fields;
  for (std::size_t from = 0;;) {
    const std::size_t comma = row.find(',', from);
    fields.push_back(row.substr(from, comma - from));
    if (comma == std::string_view::npos) return fields;
    from = comma + 1;
  }
}

void append_shortest(std::string& out, double v) {
  if (v != v) return;
  char digits[32];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, v).ptr);
}

double sum_in_level_order(std::span<const double> values) {
  long double sum = 0.0L;
  for (const double v : values) sum += v;
  return static_cast<double>(sum);
}

void append_row_head(std::string& out, std::string_view source, const StudyPoint& point,
                     std::int64_t t) {
  append_point(out, source, point);
  append_integer(out, t);
  out += ",0,";
}

void append_row(std::string& out, std::string_view source, const StudyPoint& point,
                std::int32_t max_blocks, std::int64_t t, double mean_level,
                std::span<const double> values) {
  append_row_head(out, source, point, t);
  append_shortest(out, mean_level);
  for (const double v : values) {
    out += ',';
    append_shortest(out, v);
  }
  pad(out, values.size(), max_blocks);
  out += '\n';
}

void append_stopped_row(std::string& out, const StudyPoint& point, std::int32_t max_blocks,
                        int status) {
  append_point(out, "model", point);
  out += ',';
  append_integer(out, status);
  out += ',';
  pad(out, 0, max_blocks);
  out += '\n';
}

void ModelRows::report(std::int64_t t, std::span<const double> tail) {
  if (last_only_ && t != report_count(point_.p) * point_.p.step_generations) return;
  row_.clear();
  append_row(row_, "model", point_, max_blocks_, t, sum_in_level_order(tail), tail);
  write_line(out_, row_);
}

}  // namespace blocklevels
