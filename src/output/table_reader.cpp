#include "output/table_reader.hpp"

#include <algorithm>
#include <cmath>

#include "errors/failure.hpp"
#include "parameters/parameter_table.hpp"
#include "study/quantity_checks.hpp"
#include "study/run_settings.hpp"
#include "sweep/option_values.hpp"
#include "sweep/sweep_points.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

// The header's first columns in the format before this one, which had no
// format column.
constexpr std::string_view kFormat2Header =
    "source,lambda,mu,pmut,block_length,two_option,blocks,final,step,runs,seed,t,status,"
    "mean_level";

// The highest signal number (SIGRTMAX on Linux).
constexpr int kLastSignal = 64;

// A half-width of a fraction is at most t(0.975, 1) * 0.5 / sqrt(1) = 6.36
// (two runs); of the level, that times the blocks. Anything above is no
// run's.
constexpr double kMostHalfWidth = 6.4;

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

bool read_hex64(std::string_view text, std::uint64_t& v) {
  if (text.size() != 16) return false;
  v = 0;
  for (const char c : text) {
    const int digit = c >= '0' && c <= '9' ? c - '0' : c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
    if (digit < 0) return false;
    v = v << 4 | static_cast<std::uint64_t>(digit);
  }
  return true;
}

// The X columns of a header: those named X1, X2, ... after mean_level.
std::int32_t x_columns(const std::vector<std::string>& columns) {
  std::int32_t n = 0;
  for (const std::string& name : columns) {
    if (n < kMaxBlocks && name == "X" + std::to_string(n + 1)) ++n;
  }
  return n;
}

bool is_shard_row(Source source) {
  return source == Source::shard || source == Source::shard_end;
}

// Thrown inside the reader when a table that may be cut ends inside an
// entry; next() then says the table has ended.
struct EndsInsideAnEntry {};

}  // namespace

TableReader::TableReader(std::string path, bool cut_ok)
    : reader_(std::move(path), cut_ok), cut_ok_(cut_ok) {
  check_header();
}

TableReader::TableReader(int fd, std::string path, bool cut_ok)
    : reader_(fd, std::move(path), cut_ok), cut_ok_(cut_ok) {
  check_header();
}

void TableReader::check_header() {
  if (!holds_header()) return;
  const std::vector<std::string>& columns = reader_.columns();
  const bool run_column = std::find(columns.begin(), columns.end(), "run") != columns.end();
  table_ = CsvTable(x_columns(columns), run_column);
  if (reader_.header() + "\n" == table_.header()) return;
  if (reader_.header().starts_with(kFormat2Header)) {
    throw Failure(kBadUsage, "'" + reader_.path() +
                                 "' is a table of format 2.0.0; this blocklevels reads and "
                                 "writes tables of format " +
                                 std::string(kTableFormat) + ": run its study again");
  }
  throw Failure(kBadUsage, "'" + reader_.path() + "' does not have the header of a table");
}

void TableReader::refuse(const std::string& why) const {
  throw Failure(kBadUsage, "'" + path() + "' line " + std::to_string(line()) + ": " + why);
}

void TableReader::seek(std::uint64_t offset) {
  reader_.seek(offset);
}

std::int64_t TableReader::integer_field(std::size_t column, std::int64_t lowest,
                                        std::int64_t highest, const char* what) const {
  std::int64_t v = 0;
  if (!read_signed(reader_.field(static_cast<int>(column)), v) || v < lowest || v > highest) {
    refuse(std::string(what) + " that is not " + std::to_string(lowest) + " to " +
           std::to_string(highest));
  }
  return v;
}

// The row's time: one of the point's generations (a report time, with
// `report`), or nothing when the field is empty.
std::optional<std::int64_t> TableReader::optional_time(const PointParameters& p,
                                                       bool report) const {
  const std::size_t t = table_.layout().column("t");
  if (reader_.field(static_cast<int>(t)).empty()) return std::nullopt;
  const std::int64_t last = std::max<std::int64_t>(p.final_iteration, last_report_time(p));
  const std::int64_t v = integer_field(t, 1, last, "a time");
  if (report && v % p.step_generations != 0) refuse("a time that is no report's");
  return v;
}

// The point's parameters, each a text its option takes on its own and that
// names one value; a search's row without a crossing has its searched
// parameter empty, and takes the range's low end.
void TableReader::read_point(Point& point, Source source, const StudySettings& settings) {
  const auto table = parameter_table();
  std::size_t column = table_.layout().column("source") + 1;
  const std::string_view searched =
      std::string_view(settings.search).substr(0, std::string_view(settings.search).find(':'));
  for (const ParameterDescription& d : table) {
    std::string_view text = reader_.field(static_cast<int>(column++));
    if (text.empty() && (source == Source::threshold || source == Source::simulated_threshold) &&
        d.name == searched) {
      const std::string_view range = std::string_view(settings.search).substr(searched.size() + 1);
      text = range.substr(0, range.find(':'));
    }
    if (text.empty()) refuse("no " + std::string(d.name));
    ParameterValues values;
    try {
      values = parameter_values(d, text);
    } catch (const Failure& failure) {
      refuse("a " + std::string(d.name) + " no study runs: " + failure.message());
    }
    if (values.numbers.size() != 1 || values.texts[0] != text) {
      refuse("a " + std::string(d.name) + " that is not one value");
    }
    set_parameter(point, d, values.numbers[0], values.texts[0]);
  }
  for (const ParameterDescription& d : table) {
    if (bound_refusal(point, d)) refuse("a point no study runs");
  }
}

void TableReader::read_settings(StudySettings& settings, bool simulated) {
  const TableLayout& layout = table_.layout();
  const auto field = [&](std::string_view name) {
    return reader_.field(static_cast<int>(layout.column(name)));
  };
  if (simulated || !field("runs").empty() || !field("seed").empty()) {
    settings.runs =
        static_cast<std::int32_t>(integer_field(layout.column("runs"), 1, INT32_MAX, "runs"));
    uint128 seed = 0;
    if (!read_unsigned(field("seed"), seed) || seed > UINT64_MAX) refuse("a seed that is not one");
    settings.seed = static_cast<std::uint64_t>(seed);
  }
  settings.condition = field("condition");
  settings.search = field("search");
  if (!field("grid").empty()) {
    settings.grid =
        static_cast<std::int32_t>(integer_field(layout.column("grid"), 2, 4096, "a grid"));
  }
  check_settings_texts(settings);
}

// The condition and the search as the command line takes them: a search
// PARAM:LOW:HIGH its --find runs, with its --where's condition.
void TableReader::check_settings_texts(const StudySettings& settings) {
  if (settings.search == search_text_ && settings.condition == condition_text_) return;
  search_text_.clear();
  condition_text_.clear();
  condition_.reset();
  std::optional<Condition> condition;
  if (!settings.condition.empty()) {
    condition = parse_condition(settings.condition);
    std::vector<RealValue> value;
    try {
      if (condition) value = real_values("", condition->value_text);
    } catch (const Failure&) {
    }
    if (!condition || value.size() != 1 || value[0].text != condition->value_text) {
      refuse("a condition no study asks: '" + settings.condition + "'");
    }
    std::string_view digits = condition->value_text;
    if (digits.starts_with('+')) digits.remove_prefix(1);
    if (!read_double(digits, condition->value))
      refuse("a condition no study asks: '" + settings.condition + "'");
  }
  if (!settings.search.empty()) {
    Study scratch;
    try {
      apply_setting(scratch, *find_setting("find"), settings.search, Spelling::option);
    } catch (const Failure& failure) {
      refuse("a search no study runs: " + failure.message());
    }
    search_low_ = scratch.find->low;
    search_high_ = scratch.find->high;
  }
  condition_ = condition;
  search_text_ = settings.search;
  condition_text_ = settings.condition;
}

// The settings as they bear on the point: a condition it can reach, a
// search that does not search outside its range.
void TableReader::check_point_settings(const Point& point, Source source,
                                       const StudySettings& settings) {
  if (condition_) {
    if (auto why = condition_refusal(*condition_, std::span(&point, 1))) {
      refuse("a condition no study of this point asks: " + *why);
    }
  }
  if ((source == Source::threshold || source == Source::simulated_threshold) &&
      settings.search.empty()) {
    refuse("a crossing of no search");
  }
  if (!settings.search.empty()) {
    const ParameterDescription& d =
        *find_parameter(std::string_view(settings.search).substr(0, settings.search.find(':')));
    const auto value = static_cast<double>(parameter_value(point.p, d));
    if (!(value >= static_cast<double>(search_low_) &&
          value <= static_cast<double>(search_high_))) {
      refuse("a " + std::string(d.name) + " outside the search's range");
    }
  }
}

std::vector<double> TableReader::fractions(std::int32_t blocks) const {
  const std::size_t first = table_.layout().first_value();
  std::vector<double> values;
  for (std::int32_t j = 1; j <= blocks; ++j) {
    double v = 0;
    const std::string_view text = reader_.field(static_cast<int>(first) + j);
    if (!read_double(text, v) || !(v >= 0 && v <= 1)) refuse("a fraction that is not in [0, 1]");
    values.push_back(v);
  }
  return values;
}

std::vector<uint128> TableReader::counts(std::int32_t blocks) const {
  const std::size_t first = table_.layout().first_value();
  std::vector<uint128> values;
  for (std::int32_t j = 0; j <= blocks; ++j) {
    uint128 v = 0;
    if (!read_unsigned(reader_.field(static_cast<int>(first) + j), v)) {
      refuse("a sum that is not a count");
    }
    values.push_back(v);
  }
  return values;
}

bool TableReader::read_row(Source& source, Point& point, StudySettings& settings) {
  if (!reader_.next()) return false;
  if (reader_.fields().size() != reader_.columns().size()) {
    refuse("a row of " + std::to_string(reader_.fields().size()) + " fields under a header of " +
           std::to_string(reader_.columns().size()));
  }
  entry_text_ += reader_.row();
  entry_text_ += '\n';
  const std::string_view name = reader_.field(0);
  const std::optional<Source> called = source_called(name);
  if (!called) refuse("no source '" + std::string(name) + "'");
  source = *called;
  if (source == Source::shard_end) fingerprint_before_end_ = fingerprint_.value();
  fingerprint_.add(reader_.row());
  fingerprint_.add("\n");
  // Rows of simulated runs must say which runs (a shard's first row says
  // it when the study simulates).
  StudySettings simulating;
  simulating.runs = 1;
  const bool simulated = !is_shard_row(source) && row_settings(source, simulating).runs.has_value();
  settings = StudySettings{};
  read_settings(settings, simulated);
  point = Point{};
  if (!is_shard_row(source)) {
    read_point(point, source, settings);
    check_point_settings(point, source, settings);
  }
  return true;
}

bool TableReader::next(TableEntry& entry) {
  if (!holds_header()) return false;
  entry = TableEntry{};
  entry_text_.clear();
  entry.start = reader_.row_end();
  const RowFingerprint before = fingerprint_;
  try {
    if (!read_row(entry.source, entry.result.point, entry.settings)) {
      if (reader_.cut() != ~std::uint64_t{0}) cut_ = entry.start;
      return false;
    }
    entry.first_line = reader_.line();
    read_entry(entry);
  } catch (const EndsInsideAnEntry&) {
    fingerprint_ = before;
    cut_ = entry.start;
    return false;
  }
  entry.end_offset = reader_.row_end();
  check_written_again(entry);
  return true;
}

void TableReader::continue_with(Source source, const TableEntry& entry) {
  Source next = Source::model;
  Point point;
  StudySettings settings;
  if (!read_row(next, point, settings)) {
    if (cut_ok_) throw EndsInsideAnEntry();
    refuse("the table ends inside a point's rows");
  }
  if (next != source || !same_point(point, entry.result.point) || settings != entry.settings) {
    refuse("a " + std::string(source_name(source)) + " row that does not follow its point's rows");
  }
}

void TableReader::read_entry(TableEntry& entry) {
  const TableLayout& layout = table_.layout();
  const PointParameters& p = entry.result.point.p;
  if (!is_shard_row(entry.source) && p.blocks > table_.max_blocks()) {
    refuse("more values than the table has columns");
  }
  switch (entry.source) {
    case Source::model: {
      const std::optional<std::int64_t> t = optional_time(p, true);
      if (!t) refuse("a model row without its time");
      entry.result.value = ModelReport{*t, fractions(p.blocks)};
      return;
    }
    case Source::stopped: {
      // 128 + a signal: the point's process was ended from outside (its
      // own stops end it with their numbers, none of them in 129..192).
      const auto status =
          static_cast<int>(integer_field(layout.column("status"), 1, 255, "a stop number"));
      entry.result.value =
          Stopped{status, status > 128 && status <= 128 + kLastSignal, std::nullopt};
      return;
    }
    case Source::simulation:
      return read_simulation(entry);
    case Source::simulation_runs:
      return read_sums(entry);
    case Source::hitting: {
      if (entry.settings.condition.empty()) refuse("a hitting time of no condition");
      ModelHitting hitting;
      hitting.t = optional_time(p, false);
      if (hitting.t) hitting.tail = fractions(p.blocks);
      entry.result.value = std::move(hitting);
      return;
    }
    case Source::simulation_hitting:
      return read_hitting_summary(entry);
    case Source::simulation_hitting_counts:
      return read_counts(entry);
    case Source::simulation_hitting_run:
      return read_hitting_run(entry);
    case Source::threshold:
      return read_threshold(entry);
    case Source::simulated_threshold:
      return read_simulated_threshold(entry);
    case Source::shard:
    case Source::shard_end:
      return read_shard(entry);
    default:
      refuse("a " + std::string(source_name(entry.source)) + " row out of its place");
  }
}

void TableReader::read_simulation(TableEntry& entry) {
  const PointParameters& p = entry.result.point.p;
  const std::optional<std::int64_t> t = optional_time(p, true);
  if (!t) refuse("a simulation row without its time");
  SimulationReport report;
  report.t = *t;
  const std::size_t first = table_.layout().first_value();
  // Means lie in [0, 1] (the level's in [0, l]); a half-width is finite and
  // at least 0, and empty for one run only.
  const bool one_run = entry.settings.runs == 1;
  const auto read_value = [&](int j, double most, bool half_width) {
    double v = std::nan("");
    const std::string_view text = reader_.field(static_cast<int>(first) + j);
    if (half_width && one_run && text.empty()) return v;
    if (!read_double(text, v) || !(v >= 0 && v <= most)) {
      refuse(half_width ? "a half-width no runs give" : "a simulated value out of its range");
    }
    return v;
  };
  const auto l = static_cast<std::size_t>(p.blocks);
  report.level.mean = read_value(0, p.blocks, false);
  report.fractions.resize(l);
  for (std::size_t j = 1; j <= l; ++j) {
    report.fractions[j - 1].mean = read_value(static_cast<int>(j), 1.0, false);
  }
  continue_with(Source::simulation_ci95, entry);
  if (optional_time(p, true) != t) refuse("a simulation_ci95 row of another time");
  report.level.half_width = read_value(0, kMostHalfWidth * p.blocks, true);
  for (std::size_t j = 1; j <= l; ++j) {
    report.fractions[j - 1].half_width = read_value(static_cast<int>(j), kMostHalfWidth, true);
  }
  entry.result.value = std::move(report);
}

// The runs' hitting times as the table holds them: the counts and shares
// in their ranges, the quartiles in the point's generations and in order.
void TableReader::read_hitting_summary(TableEntry& entry) {
  const TableLayout& layout = table_.layout();
  const std::int64_t final = entry.result.point.p.final_iteration;
  simulation::HittingSummary s;
  s.runs = static_cast<std::uint64_t>(*entry.settings.runs);
  s.reached = static_cast<std::uint64_t>(
      integer_field(layout.column("reached"), 0, *entry.settings.runs, "a count of runs"));
  const auto real = [&](std::string_view name, double lowest, double highest) {
    double v = 0;
    if (!read_double(reader_.field(static_cast<int>(layout.column(name))), v) ||
        !(v >= lowest && v <= highest)) {
      refuse("a " + std::string(name) + " out of its range");
    }
    return v;
  };
  s.success_rate = real("success_rate", 0, 1);
  s.success_low = real("success_low", 0, 1);
  s.success_high = real("success_high", 0, 1);
  std::int64_t before = 1;
  for (const auto& [name, q] :
       {std::pair{"lower_quartile_t", &s.lower_quartile}, std::pair{"median_t", &s.median},
        std::pair{"upper_quartile_t", &s.upper_quartile}}) {
    if (reader_.field(static_cast<int>(layout.column(name))).empty()) continue;
    *q = integer_field(layout.column(name), before, final, "a quartile");
    before = **q;
  }
  s.restricted_mean = real("restricted_mean_t", 1, static_cast<double>(final));
  if (!reader_.field(static_cast<int>(layout.column("evaluations"))).empty()) {
    s.evaluations = real("evaluations", 0, INFINITY);
  }
  entry.result.value = HittingSummary{s};
}

void TableReader::read_sums(TableEntry& entry) {
  const PointParameters& p = entry.result.point.p;
  const std::int32_t l = p.blocks;
  const std::optional<std::int64_t> t = optional_time(p, true);
  if (!t) refuse("a sum row without its time");
  const std::vector<uint128> runs = counts(l);
  continue_with(Source::simulation_sum, entry);
  if (optional_time(p, true) != t) refuse("a simulation_sum row of another time");
  const std::vector<uint128> sums = counts(l);
  continue_with(Source::simulation_sum_of_squares, entry);
  if (optional_time(p, true) != t) refuse("a simulation_sum_of_squares row of another time");
  const std::vector<uint128> squares = counts(l);
  // A shard may hold no runs of a point (more shards than runs): its sums
  // are then all 0.
  for (const uint128 r : runs) {
    if (r != runs[0] || r > static_cast<uint128>(*entry.settings.runs)) {
      refuse("the sums of no runs");
    }
  }
  std::vector<std::uint64_t> narrow;
  for (const uint128 s : sums) {
    if (s > UINT64_MAX) refuse("a sum beyond any runs'");
    narrow.push_back(static_cast<std::uint64_t>(s));
  }
  ShardSums shard;
  shard.t = *t;
  shard.totals = simulation::RunTotals(1, l);
  shard.totals.add_sums(static_cast<std::uint64_t>(runs[0]), narrow, squares);
  entry.result.value = std::move(shard);
}

void TableReader::read_counts(TableEntry& entry) {
  const PointParameters& p = entry.result.point.p;
  if (entry.settings.condition.empty()) refuse("hitting counts of no condition");
  HittingCounts counts;
  const std::size_t count_column = table_.layout().column("count");
  const std::int64_t runs = *entry.settings.runs;
  std::int64_t counted = 0;
  for (;;) {
    const std::optional<std::int64_t> t = optional_time(p, false);
    const std::int64_t n = integer_field(count_column, t ? 1 : 0, runs, "a count of runs");
    counted += n;
    if (counted > runs) refuse("hitting counts of more runs than the study's");
    if (!t) {
      counts.times.never = static_cast<std::uint64_t>(n);
      break;
    }
    if (!counts.times.first.empty() && counts.times.first.rbegin()->first >= *t) {
      refuse("hitting counts out of the order of their generations");
    }
    counts.times.first[*t] = static_cast<std::uint64_t>(n);
    continue_with(Source::simulation_hitting_counts, entry);
  }
  entry.result.value = std::move(counts);
}

// A run's own hitting time: a run of the study's, and one of the point's
// generations or none. A table without the run column has no such row.
void TableReader::read_hitting_run(TableEntry& entry) {
  const TableLayout& layout = table_.layout();
  if (!layout.run_column()) refuse("a run's hitting time in a table without the run column");
  if (entry.settings.condition.empty()) refuse("a run's hitting time of no condition");
  HittingRun run;
  run.run = static_cast<std::uint64_t>(
      integer_field(layout.column("run"), 0, *entry.settings.runs - 1, "a run"));
  run.t = optional_time(entry.result.point.p, false);
  entry.result.value = run;
}

void TableReader::read_threshold(TableEntry& entry) {
  const PointParameters& p = entry.result.point.p;
  Threshold threshold;
  const std::optional<std::int64_t> t = optional_time(p, false);
  threshold.found = t.has_value();
  if (threshold.found) {
    threshold.t = *t;
    threshold.tail = fractions(p.blocks);
    read_crossing(threshold.direction, threshold.lower, threshold.upper);
  }
  entry.result.value = std::move(threshold);
}

// A simulated crossing has its direction (none: no crossing), no time and
// no values: the runs at its estimate are the rows that follow.
void TableReader::read_simulated_threshold(TableEntry& entry) {
  const TableLayout& layout = table_.layout();
  if (!reader_.field(static_cast<int>(layout.column("t"))).empty() ||
      !reader_.field(static_cast<int>(layout.first_value())).empty()) {
    refuse("a simulated crossing with a time or values");
  }
  SimulatedThreshold threshold;
  threshold.found = !reader_.field(static_cast<int>(layout.column("direction"))).empty();
  if (threshold.found) read_crossing(threshold.direction, threshold.lower, threshold.upper);
  entry.result.value = threshold;
}

// A crossing's direction and its bracket (or interval) inside the search's
// range.
void TableReader::read_crossing(Direction& to, long double& lower_to, long double& upper_to) {
  const TableLayout& layout = table_.layout();
  const std::string_view direction = reader_.field(static_cast<int>(layout.column("direction")));
  if (direction != "falling" && direction != "rising") refuse("a crossing without direction");
  to = direction == "falling" ? Direction::falling : Direction::rising;
  double lower = 0, upper = 0;
  if (!read_double(reader_.field(static_cast<int>(layout.column("lower"))), lower) ||
      !read_double(reader_.field(static_cast<int>(layout.column("upper"))), upper) ||
      !(lower <= upper) || !(lower >= static_cast<double>(search_low_)) ||
      !(upper <= static_cast<double>(search_high_))) {
    refuse("a crossing without its bracket");
  }
  lower_to = lower;
  upper_to = upper;
}

void TableReader::read_shard(TableEntry& entry) {
  const TableLayout& layout = table_.layout();
  entry.shard.n = static_cast<std::int32_t>(
      integer_field(layout.column("shards"), 1, INT32_MAX, "a shard count"));
  entry.shard.k = static_cast<std::int32_t>(
      integer_field(layout.column("shard"), 0, entry.shard.n - 1, "a shard"));
  std::uint64_t fingerprint = 0;
  if (!read_hex64(reader_.field(static_cast<int>(layout.column("fingerprint"))), fingerprint)) {
    refuse(entry.source == Source::shard ? "a shard row without its study's fingerprint"
                                         : "a shard_end row without its rows' fingerprint");
  }
  if (entry.source == Source::shard) {
    entry.shard.fingerprint = fingerprint;
    // The rows from this one on are fingerprinted from the study's.
    fingerprint_ = RowFingerprint(fingerprint);
    fingerprint_.add(reader_.row());
    fingerprint_.add("\n");
    return;
  }
  entry.end.fingerprint = fingerprint;
  entry.end.rows = static_cast<std::uint64_t>(
      integer_field(layout.column("rows"), 0, INT64_MAX, "a count of rows"));
  entry.end.points = static_cast<std::uint64_t>(
      integer_field(layout.column("points"), 0, INT64_MAX, "a count of points"));
}

void TableReader::check_written_again(const TableEntry& entry) {
  written_.clear();
  if (entry.source == Source::shard) {
    table_.append_shard(written_, entry.shard, entry.settings);
  } else if (entry.source == Source::shard_end) {
    table_.append_shard_end(written_, entry.shard, entry.settings, entry.end);
  } else {
    table_.append(written_, entry.result, entry.settings);
  }
  if (written_ != entry_text_) refuse("rows the program does not write");
}

}  // namespace blocklevels
