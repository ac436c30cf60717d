#include "output/table_reader.hpp"

#include <cmath>
#include <cstring>

#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"
#include "text/double_text.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

// Decimal digits only, no sign, no leading zero but for 0 itself, below 2^128.
bool read_unsigned(std::string_view text, uint128& v) {
  if (text.empty() || text.size() > 39 || (text.size() > 1 && text[0] == '0')) return false;
  v = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    const uint128 next = v * 10 + static_cast<unsigned>(c - '0');
    if (next / 10 != v) return false;
    v = next;
  }
  return true;
}

bool read_signed(std::string_view text, std::int64_t& v) {
  const bool negative = !text.empty() && text[0] == '-';
  uint128 magnitude = 0;
  if (!read_unsigned(negative ? text.substr(1) : text, magnitude)) return false;
  if (magnitude > (negative ? uint128{1} << 63 : (uint128{1} << 63) - 1)) return false;
  v = negative ? static_cast<std::int64_t>(0 - static_cast<std::uint64_t>(magnitude))
               : static_cast<std::int64_t>(magnitude);
  return true;
}

}  // namespace

TableReader::TableReader(std::string path) : reader_(std::move(path)) {
  const auto& columns = reader_.columns();
  std::int32_t x_columns = 0;
  for (std::size_t i = columns.size(); i-- > 0 && columns[i].starts_with("X");) ++x_columns;
  table_ = CsvTable(x_columns);
  if (reader_.header() + "\n" != table_.header()) {
    throw Failure(kBadUsage,
                           "'" + reader_.path() + "' does not have the header of a table");
  }
  source_ = reader_.column(kSourceColumn);
  for (const ParameterDescription& d : parameter_table()) {
    parameters_.push_back(reader_.column(d.name));
  }
  runs_ = reader_.column(kRunsColumn);
  seed_ = reader_.column(kSeedColumn);
  t_ = reader_.column(kTimeColumn);
  status_ = reader_.column(kStatusColumn);
  first_value_ = reader_.column(kMeanLevelColumn);
}

void TableReader::refuse(const std::string& why) const {
  throw Failure(kBadUsage,
                         "'" + path() + "' line " + std::to_string(line()) + ": " + why);
}

bool TableReader::next(TableRow& row) {
  if (!reader_.next()) return false;
  if (reader_.fields().size() != reader_.columns().size()) {
    refuse("a row of " + std::to_string(reader_.fields().size()) + " fields under a header of " +
           std::to_string(reader_.columns().size()));
  }
  parse(row);
  written_.clear();
  table_.append(written_, row);
  written_.pop_back();
  if (written_ != reader_.row()) refuse("a row the program does not write");
  return true;
}

void TableReader::parse(TableRow& row) const {
  row = TableRow{};
  const std::optional<Source> source = source_called(reader_.field(source_));
  if (!source) refuse("no source '" + std::string(reader_.field(source_)) + "'");
  row.source = *source;
  // The runs and seed columns: both or neither.
  const std::string_view runs = reader_.field(runs_), seed = reader_.field(seed_);
  if (!runs.empty() || !seed.empty()) {
    uint128 r = 0, s = 0;
    if (!read_unsigned(runs, r) || r < 1 || r > INT32_MAX || !read_unsigned(seed, s) ||
        s > UINT64_MAX) {
      refuse("runs or seed that are not a simulation's");
    }
    row.simulation = SimulationColumns{static_cast<std::int32_t>(r), static_cast<std::uint64_t>(s)};
  }
  std::int64_t t = 0, status = 0;
  const bool has_t = !reader_.field(t_).empty();
  if ((has_t && !read_signed(reader_.field(t_), t)) ||
      !read_signed(reader_.field(status_), status) || status < INT32_MIN || status > INT32_MAX) {
    refuse("a time or status that is not an integer");
  }
  if (has_t) row.t = t;
  row.status = static_cast<std::int32_t>(status);
  const int values = static_cast<int>(reader_.fields().size()) - first_value_;
  if (row.source == Source::shard || row.source == Source::shard_end) {
    uint128 number = 0, points = 0;
    if (!has_t || t < 0 || t >= status || status > INT32_MAX ||
        !read_unsigned(reader_.field(first_value_), number) || number > UINT64_MAX ||
        (row.source == Source::shard_end &&
         (values < 2 || !read_unsigned(reader_.field(first_value_ + 1), points) ||
          points > UINT64_MAX))) {
      refuse("a shard row that does not say which shard");
    }
    row.shard = {static_cast<std::int32_t>(t), static_cast<std::int32_t>(status), 0};
    if (row.source == Source::shard) {
      row.shard.study = static_cast<std::uint64_t>(number);
      std::int64_t searched = 0;
      if (values >= 2 && !reader_.field(first_value_ + 1).empty() &&
          (!read_signed(reader_.field(first_value_ + 1), searched) || searched < 1 ||
           searched > static_cast<std::int64_t>(parameter_table().size()))) {
        refuse("a shard row whose searched parameter is not a parameter's place");
      }
      row.searched = static_cast<std::int32_t>(searched);
    } else {
      row.rows = static_cast<std::uint64_t>(number);
      row.points = static_cast<std::uint64_t>(points);
    }
    return;
  }
  // The point, by the parameter table's columns.
  const auto table = parameter_table();
  for (std::size_t n = 0; n < table.size(); ++n) {
    const std::string_view text = reader_.field(parameters_[n]);
    if (table[n].kind == ParameterKind::real) {
      const RealParse parsed = parse_real_token(text);
      if (text.empty() || !parsed.valid || parsed.overflow) refuse("a pmut that is not a number");
      set_parameter(row.point, table[n], parsed.value, text);
    } else {
      std::int64_t v = 0;
      if (!read_signed(text, v) || v < INT32_MIN || v > INT32_MAX) {
        refuse("a " + std::string(table[n].name) + " that is not an integer");
      }
      set_parameter(row.point, table[n], static_cast<long double>(v), text);
    }
  }
  for (const ParameterDescription& d : table) {
    if (!value_refusal(d, parameter_value(row.point.p, d), parameter_text(row.point, d)).empty() ||
        !bound_refusal(row.point, d).empty()) {
      refuse("a point no study runs");
    }
  }
  const Source kind = row.source;
  const bool of_the_model =
      kind == Source::model || kind == Source::threshold || kind == Source::hitting;
  int fields = static_cast<int>(row.point.p.blocks) + 1;
  if (kind == Source::simulation_hitting) fields = kHittingSummaryColumns + 1;
  if (kind == Source::simulation_hitting_counts) fields = 1;
  if (fields > values) refuse("more values than the table has columns");
  // Rows without a time: a stopped point's, a search or a hitting time that
  // found none, the hitting summary, the runs that never reached the value.
  if (!has_t) {
    if (kind == Source::model) return;
    if (row.status != 0) refuse("a status in a row that is not a stopped point's");
    if (kind == Source::threshold || kind == Source::hitting) return;
    if (kind != Source::simulation_hitting && kind != Source::simulation_hitting_counts) {
      refuse("a row without its time");
    }
  } else if (row.status != 0 || kind == Source::simulation_hitting) {
    refuse("a row with a time and a status, or a time where none belongs");
  }
  if (is_sum_source(kind)) {
    for (int i = 0; i < fields; ++i) {
      uint128 v = 0;
      if (!read_unsigned(reader_.field(first_value_ + i), v)) refuse("a sum that is not a count");
      row.counts.push_back(v);
    }
    return;
  }
  for (int i = 0; i < fields; ++i) {
    const std::string_view text = reader_.field(first_value_ + i);
    double v = std::nan("");
    if (!text.empty() && !read_double(text, v)) refuse("a value that is not a number");
    row.values.push_back(v);
  }
  if (of_the_model) {
    const double mean = sum_in_level_order(std::span(row.values).subspan(1));
    if (std::memcmp(&mean, &row.values[0], sizeof mean) != 0) {
      refuse("a mean level that is not the sum of its row's values");
    }
  }
}

}  // namespace blocklevels
