#include "output/csv_table.hpp"

#include <charconv>
#include <cmath>

#include "arithmetic/extended_arithmetic.hpp"
#include "parameters/parameter_table.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

constexpr std::string_view kSourceNames[] = {
    "model",           "simulation",         "simulation_ci95",
    "simulation_runs", "simulation_sum",     "simulation_sum_of_squares",
    "shard",           "shard_end",          "threshold",
    "hitting",         "simulation_hitting", "simulation_hitting_counts"};

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

std::string_view source_name(Source source) {
  return kSourceNames[static_cast<std::size_t>(source)];
}

std::optional<Source> source_called(std::string_view name) {
  for (std::size_t n = 0; n < std::size(kSourceNames); ++n) {
    if (kSourceNames[n] == name) return static_cast<Source>(n);
  }
  return std::nullopt;
}

bool is_sum_source(Source source) {
  return source == Source::simulation_runs || source == Source::simulation_sum ||
         source == Source::simulation_sum_of_squares || source == Source::simulation_hitting_counts;
}

std::string CsvTable::header() const {
  std::string header(kSourceColumn);
  for (const ParameterDescription& d : parameter_table()) {
    header += ',';
    header += d.name;
  }
  for (const std::string_view name :
       {kRunsColumn, kSeedColumn, kTimeColumn, kStatusColumn, kMeanLevelColumn}) {
    header += ',';
    header += name;
  }
  for (std::int32_t j = 1; j <= max_blocks_; ++j) {
    header += ",X";
    append_integer(header, j);
  }
  header += '\n';
  return header;
}

void CsvTable::append(std::string& out, const TableRow& row) const {
  out += source_name(row.source);
  const bool shard_row = row.source == Source::shard || row.source == Source::shard_end;
  for (const ParameterDescription& d : parameter_table()) {
    out += ',';
    if (!shard_row) out += parameter_text(row.point, d);
  }
  out += ',';
  if (row.simulation) append_integer(out, row.simulation->runs);
  out += ',';
  if (row.simulation) append_unsigned(out, row.simulation->seed);
  out += ',';
  if (shard_row) {
    append_integer(out, row.shard.k);
    out += ',';
    append_integer(out, row.shard.n);
    out += ',';
    append_unsigned(out, row.source == Source::shard ? row.shard.study : row.rows);
    if (row.source == Source::shard_end) {
      out += ',';
      append_unsigned(out, row.points);
      pad(out, 1, max_blocks_);
    } else if (row.searched > 0) {
      out += ',';
      append_integer(out, row.searched);
      pad(out, 1, max_blocks_);
    } else {
      pad(out, 0, max_blocks_);
    }
    out += '\n';
    return;
  }
  if (row.t) append_integer(out, *row.t);
  out += ',';
  append_integer(out, row.status);
  out += ',';
  std::size_t written = 0;
  if (is_sum_source(row.source)) {
    for (std::size_t i = 0; i < row.counts.size(); ++i) {
      if (i > 0) out += ',';
      append_unsigned(out, row.counts[i]);
    }
    written = row.counts.size();
  } else {
    for (std::size_t i = 0; i < row.values.size(); ++i) {
      if (i > 0) out += ',';
      append_shortest(out, row.values[i]);
    }
    written = row.values.size();
  }
  // The first value is the mean level's field, which every row has.
  if (written == 0) written = 1;
  pad(out, written - 1, max_blocks_);
  out += '\n';
}

TableRow model_row(const Point& point, std::int64_t t, std::span<const double> tail) {
  TableRow row;
  row.point = point;
  row.t = t;
  row.values.reserve(tail.size() + 1);
  row.values.push_back(sum_in_level_order(tail));
  row.values.insert(row.values.end(), tail.begin(), tail.end());
  return row;
}

TableRow stopped_row(const Point& point, int status) {
  TableRow row;
  row.point = point;
  row.status = status;
  return row;
}

namespace {

// Rows of one point and report time, one of each source, without values.
template <std::size_t N>
std::array<TableRow, N> rows_at(const Point& point, const SimulationColumns& simulation,
                                std::int64_t t, const std::array<Source, N>& sources) {
  std::array<TableRow, N> rows;
  for (std::size_t n = 0; n < N; ++n) {
    rows[n].source = sources[n];
    rows[n].point = point;
    rows[n].simulation = simulation;
    rows[n].t = t;
  }
  return rows;
}

}  // namespace

std::array<TableRow, 2> summary_rows(const Point& point, const SimulationColumns& simulation,
                                     const simulation::Summary& summary, std::int64_t report,
                                     std::int64_t t) {
  std::array<TableRow, 2> rows =
      rows_at<2>(point, simulation, t, {Source::simulation, Source::simulation_ci95});
  auto& [means, half_widths] = rows;
  const simulation::Estimate& level = summary.mean_level[static_cast<std::size_t>(report)];
  means.values.push_back(level.mean);
  half_widths.values.push_back(level.half_width);
  for (std::int32_t j = 1; j <= point.p.blocks; ++j) {
    const simulation::Estimate& e = summary.fraction_at(report, j);
    means.values.push_back(e.mean);
    half_widths.values.push_back(e.half_width);
  }
  return rows;
}

std::array<TableRow, 3> sum_rows(const Point& point, const SimulationColumns& simulation,
                                 const simulation::RunTotals& totals, std::int64_t report,
                                 std::int64_t t) {
  std::array<TableRow, 3> rows = rows_at<3>(
      point, simulation, t,
      {Source::simulation_runs, Source::simulation_sum, Source::simulation_sum_of_squares});
  auto& [runs, sums, squares] = rows;
  for (std::int32_t j = 0; j <= point.p.blocks; ++j) {
    runs.counts.push_back(totals.runs());
    sums.counts.push_back(j == 0 ? totals.sum_level(report) : totals.sum_at_least(report, j));
    squares.counts.push_back(j == 0 ? totals.sum_level_squared(report)
                                    : totals.sum_at_least_squared(report, j));
  }
  return rows;
}

TableRow model_values_row(Source source, const Point& point, std::optional<std::int64_t> t,
                          std::span<const double> tail) {
  TableRow row;
  row.source = source;
  row.point = point;
  if (tail.empty()) return row;
  row.t = t;
  row.values.push_back(sum_in_level_order(tail));
  row.values.insert(row.values.end(), tail.begin(), tail.end());
  return row;
}

TableRow simulation_hitting_row(const Point& point, const SimulationColumns& simulation,
                                const simulation::HittingSummary& summary) {
  TableRow row;
  row.source = Source::simulation_hitting;
  row.point = point;
  row.simulation = simulation;
  row.values = {summary.mean,           summary.half_width,     summary.median,
                summary.lower_quartile, summary.upper_quartile, static_cast<double>(summary.never)};
  return row;
}

std::vector<TableRow> simulation_hitting_count_rows(const Point& point,
                                                    const SimulationColumns& simulation,
                                                    const simulation::HittingTimes& times) {
  std::vector<TableRow> rows;
  TableRow row;
  row.source = Source::simulation_hitting_counts;
  row.point = point;
  row.simulation = simulation;
  for (const auto& [t, runs] : times.first) {
    row.t = t;
    row.counts = {runs};
    rows.push_back(row);
  }
  row.t.reset();
  row.counts = {times.never};
  rows.push_back(row);
  return rows;
}

}  // namespace blocklevels
