#include "tables/merge.hpp"

#include <unistd.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "errors/failure.hpp"
#include "output/table_reader.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/run_streams.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

// One shard: its reader one entry ahead, and what it has handed out.
class Shard {
 public:
  explicit Shard(const std::string& name) : reader_(std::make_unique<TableReader>(name)) {
    if (!advance() || ahead_.source != Source::shard) {
      refuse(quoted(name) + " is not a shard: its first row is not a shard row");
    }
    identity_ = ahead_;
    advance();
  }

  const std::string& name() const { return reader_->path(); }
  const TableEntry& identity() const { return identity_; }
  const CsvTable& table() const { return reader_->table(); }

  // The next entry, still unread; nothing once the shard_end row is reached.
  const TableEntry* peek() const {
    return at_end_ || ahead_.source == Source::shard_end ? nullptr : &ahead_;
  }
  // Hands out the next entry and reads the one after.
  TableEntry take() {
    TableEntry entry = std::move(ahead_);
    rows_ += rows_of(entry);
    advance();
    return entry;
  }
  std::uint64_t points = 0;  // points begun so far

  // After the last point: the shard_end row must be there, agree with what
  // was read, and end the file.
  void finish() {
    if (at_end_) refuse(quoted(name()) + " is cut short: it has no shard_end row");
    if (ahead_.source != Source::shard_end) {
      refuse(quoted(name()) + " line " + std::to_string(reader_->line()) +
             ": a row after the study's last point");
    }
    if (ahead_.shard.k != identity_.shard.k || ahead_.shard.n != identity_.shard.n ||
        ahead_.settings.runs != identity_.settings.runs ||
        ahead_.settings.seed != identity_.settings.seed) {
      refuse(quoted(name()) + ": its shard_end row names another shard than its shard row");
    }
    if (ahead_.end.rows != rows_ || ahead_.end.points != points) {
      refuse(quoted(name()) + ": its shard_end row counts " + std::to_string(ahead_.end.points) +
             " points in " + std::to_string(ahead_.end.rows) + " rows, but it holds " +
             std::to_string(points) + " in " + std::to_string(rows_));
    }
    if (advance()) refuse(quoted(name()) + ": rows after its shard_end row");
  }

 private:
  bool advance() {
    at_end_ = !reader_->next(ahead_);
    if (!at_end_ && ahead_.source == Source::shard && identity_read_) {
      refuse(quoted(name()) + " line " + std::to_string(reader_->line()) + ": a second shard row");
    }
    identity_read_ = true;
    return !at_end_;
  }
  // The rows an entry took in its table.
  std::uint64_t rows_of(const TableEntry& entry) const {
    std::string text;
    reader_->table().append(text, entry.result, entry.settings);
    return static_cast<std::uint64_t>(std::count(text.begin(), text.end(), '\n'));
  }

  std::unique_ptr<TableReader> reader_;
  TableEntry identity_;
  TableEntry ahead_;
  bool at_end_ = false;
  bool identity_read_ = false;
  std::uint64_t rows_ = 0;
};

// Writes results to standard output in the table's buffer, under the
// study's settings.
class Output {
 public:
  Output(const CsvTable& table, const StudySettings& settings)
      : table_(table), settings_(settings) {
    runtime::table_file().open(STDOUT_FILENO, runtime::LineEnd::lf, false, kTableBufferSize);
    write_line(runtime::table_file(), table.header());
  }
  void result(const Result& result) {
    text_.clear();
    table_.append(text_, result, settings_);
    write_line(runtime::table_file(), text_);
  }
  void close() { close_stream(runtime::table_file()); }

 private:
  const CsvTable& table_;
  StudySettings settings_;
  std::string text_;
};

std::string where(const Shard& shard) {
  return quoted(shard.name());
}

// A point's model reports from one shard: a stopped point alone, or a
// report for every report time in order. Returns the point.
Point take_model_entries(Shard& shard, Output& out, bool& stopped) {
  const TableEntry* first = shard.peek();
  if (first == nullptr || (!std::holds_alternative<ModelReport>(first->result.value) &&
                           !std::holds_alternative<Stopped>(first->result.value))) {
    refuse(where(shard) + " lacks the model rows of its next point");
  }
  const Point point = first->result.point;
  ++shard.points;
  stopped = std::holds_alternative<Stopped>(first->result.value);
  if (stopped) {
    out.result(shard.take().result);
    return point;
  }
  const std::int64_t reports = report_count(point.p);
  for (std::int64_t report = 0; report < reports; ++report) {
    const TableEntry* entry = shard.peek();
    const auto* model = entry == nullptr ? nullptr : std::get_if<ModelReport>(&entry->result.value);
    if (model == nullptr || !same_point(entry->result.point, point) ||
        model->t != report_time(point.p, report)) {
      refuse(where(shard) + ": the model rows of " + describe_point(point) +
             " end or skip before t=" + std::to_string(report_time(point.p, report)));
    }
    out.result(shard.take().result);
  }
  return point;
}

// Whether the sums of one report time can come from runs at all: each
// run's level sum L is k_1 + ... + k_l with k_1 >= k_2 >= ... >= k_l, each
// k_j at most lambda, so the sums obey the same; and each sum of squares q
// of n values of sum s, each at most m, lies between s^2 / n and s m. An
// edited or garbled sum fails one of these but for rare edits.
bool sums_of_runs(const simulation::RunTotals& totals, const PointParameters& p) {
  const uint128 n = totals.runs();
  if (n == 0 || n > UINT32_MAX) return false;
  uint128 level = 0;
  for (std::int32_t j = 0; j <= totals.blocks(); ++j) {
    const uint128 most = static_cast<uint128>(p.lambda) * (j == 0 ? static_cast<uint128>(p.blocks) : 1);
    const uint128 sum = j == 0 ? totals.sum_level(0) : totals.sum_at_least(0, j);
    const uint128 squares = j == 0 ? totals.sum_level_squared(0) : totals.sum_at_least_squared(0, j);
    // No product overflows: n < 2^32 and most < 2^42; a sum below 2^64 has
    // a square below 2^128, compared with q as q >= ceil(s^2 / n).
    if (sum > n * most || squares > sum * most) return false;
    const uint128 square = sum * sum;
    if (squares < square / n + (square % n != 0 ? 1 : 0)) return false;
    if (j >= 1) level += sum;
    if (j >= 2 && sum > totals.sum_at_least(0, j - 1)) return false;
  }
  return level == totals.sum_level(0);
}

// The entry's point with `searched` as in `point`.
bool same_but(const Point& entry, const Point& point, const ParameterDescription& searched) {
  Point masked = entry;
  set_parameter(masked, searched, parameter_value(point.p, searched),
                parameter_text(point, searched));
  return same_point(masked, point);
}

// A search's answers from one shard: its crossings in increasing order of
// the searched parameter, each followed by its simulated runs; or its one
// answer without a crossing.
void take_search_entries(Shard& shard, Output& out, const ParameterDescription& searched) {
  const Point point = shard.peek()->result.point;
  ++shard.points;
  bool crossing = std::get<Threshold>(shard.peek()->result.value).found;
  out.result(shard.take().result);
  long double last = parameter_value(point.p, searched);
  while (crossing) {
    const TableEntry* entry = shard.peek();
    if (entry != nullptr && std::holds_alternative<SimulationReport>(entry->result.value) &&
        same_but(entry->result.point, point, searched)) {
      out.result(shard.take().result);
    }
    const TableEntry* next = shard.peek();
    const auto* threshold =
        next == nullptr ? nullptr : std::get_if<Threshold>(&next->result.value);
    crossing = threshold != nullptr && threshold->found &&
               same_but(next->result.point, point, searched) &&
               parameter_value(next->result.point.p, searched) > last;
    if (!crossing) break;
    last = parameter_value(next->result.point.p, searched);
    out.result(shard.take().result);
  }
}

// A model sweep's shard K holds points K, K + N, ...: one machine's table
// is theirs taken in turn. So does a search's, simulated or not.
void merge_points(std::vector<Shard>& shards, Output& out, const ParameterDescription* searched) {
  const std::size_t n = shards.size();
  for (std::size_t i = 0;; ++i) {
    Shard& shard = shards[i % n];
    if (shard.peek() == nullptr) {
      // The study ends here: no later shard may hold another point.
      for (std::size_t k = 1; k < n; ++k) {
        if (shards[(i + k) % n].peek() != nullptr) {
          refuse(where(shards[(i + k) % n]) + " holds more points than " + where(shard) +
                 " allows for its place");
        }
      }
      break;
    }
    if (searched != nullptr && std::holds_alternative<Threshold>(shard.peek()->result.value)) {
      take_search_entries(shard, out, *searched);
      continue;
    }
    bool stopped = false;
    const Point point = take_model_entries(shard, out, stopped);
    const TableEntry* next = shard.peek();
    if (!stopped && next != nullptr &&
        std::holds_alternative<ModelHitting>(next->result.value) &&
        same_point(next->result.point, point)) {
      out.result(shard.take().result);
      next = shard.peek();
    }
    if (next != nullptr && !std::holds_alternative<ModelReport>(next->result.value) &&
        !std::holds_alternative<Stopped>(next->result.value) &&
        !std::holds_alternative<Threshold>(next->result.value)) {
      refuse(where(shard) + " holds a " + std::string(source_name(next->source)) +
             " row where a point's first row belongs");
    }
  }
  for (Shard& shard : shards) shard.finish();
}

// The runs' hitting times of a point: each shard's counts, added up and
// summarised as one machine does.
void merge_hitting_counts(std::vector<Shard>& shards, Output& out, std::int32_t runs,
                          const Point& point) {
  simulation::HittingTimes times;
  std::uint64_t counted = 0;
  for (Shard& shard : shards) {
    const TableEntry* entry = shard.peek();
    const auto* counts =
        entry == nullptr ? nullptr : std::get_if<HittingCounts>(&entry->result.value);
    if (counts == nullptr || !same_point(entry->result.point, point)) {
      refuse(where(shard) + ": the hitting times of " + describe_point(point) +
             " end before their count of runs that never reached the value");
    }
    for (const auto& [t, n] : counts->times.first) {
      if (t > point.p.final_iteration) {
        refuse(where(shard) + ": the hitting times of " + describe_point(point) +
               " are not those of any runs");
      }
      counted += n;
    }
    counted += counts->times.never;
    times.add(counts->times);
    shard.take();
  }
  if (counted != static_cast<std::uint64_t>(runs)) {
    refuse("the shards hold the hitting times of " + std::to_string(counted) + " runs of " +
           describe_point(point) + ", not " + std::to_string(runs));
  }
  out.result({point, HittingSummary{simulation::summarize_hitting(
                         times, point.p.final_iteration, point.p.lambda)}});
}

// The sums of one report time from every shard, added up and summarised as
// one machine summarises its runs.
void merge_sums(std::vector<Shard>& shards, Output& out, std::int32_t runs, const Point& point,
                std::int64_t t) {
  simulation::RunTotals totals(1, point.p.blocks);
  for (Shard& shard : shards) {
    const TableEntry* entry = shard.peek();
    const auto* sums = entry == nullptr ? nullptr : std::get_if<ShardSums>(&entry->result.value);
    if (sums == nullptr || !same_point(entry->result.point, point) || sums->t != t) {
      refuse(where(shard) + ": the sums of " + describe_point(point) + " end or skip at t=" +
             std::to_string(t));
    }
    if (!sums_of_runs(sums->totals, point.p)) {
      refuse(where(shard) + ": the sums of " + describe_point(point) + " at t=" +
             std::to_string(t) + " are not those of any runs");
    }
    totals.add(sums->totals);
    shard.take();
  }
  if (totals.runs() != static_cast<std::uint64_t>(runs)) {
    refuse("the shards hold " + std::to_string(totals.runs()) + " runs of " +
           describe_point(point) + " at t=" + std::to_string(t) + ", not " +
           std::to_string(runs));
  }
  const simulation::Summary summary = simulation::summarize(totals, point.p.lambda);
  SimulationReport report{t, summary.mean_level[0], {}};
  for (std::int32_t j = 1; j <= point.p.blocks; ++j) report.fractions.push_back(summary.fraction_at(0, j));
  out.result({point, std::move(report)});
}

// A simulation's shards hold every point, each its own runs: shard 0 the
// model's reports too.
void merge_runs(std::vector<Shard>& shards, Output& out, std::int32_t runs) {
  Shard& first = shards[0];
  while (first.peek() != nullptr) {
    bool stopped = false;
    const Point point = take_model_entries(first, out, stopped);
    for (std::size_t k = 1; k < shards.size(); ++k) {
      Shard& shard = shards[k];
      const TableEntry* entry = shard.peek();
      if (entry == nullptr || !same_point(entry->result.point, point) ||
          stopped != std::holds_alternative<Stopped>(entry->result.value)) {
        refuse(where(shard) + " does not hold " + describe_point(point) + " where " +
               where(first) + " does");
      }
      ++shard.points;
      if (stopped) shard.take();  // the same stopped point
    }
    if (stopped) continue;
    const TableEntry* hitting = first.peek();
    if (hitting != nullptr && std::holds_alternative<ModelHitting>(hitting->result.value) &&
        same_point(hitting->result.point, point)) {
      out.result(first.take().result);
    }
    for (std::int64_t report = 0; report < report_count(point.p); ++report) {
      merge_sums(shards, out, runs, point, report_time(point.p, report));
    }
    const TableEntry* counts = first.peek();
    if (counts != nullptr && std::holds_alternative<HittingCounts>(counts->result.value)) {
      merge_hitting_counts(shards, out, runs, point);
    }
  }
  for (Shard& shard : shards) shard.finish();
}

// Every file a shard of the same study, each K once, none missing; then in
// the order of K.
void check_shards(std::vector<Shard>& shards) {
  const Shard& reference = shards[0];
  const ShardIdentity& study = reference.identity().shard;
  for (const Shard& shard : shards) {
    const TableEntry& identity = shard.identity();
    if (identity.shard.n != study.n) {
      refuse(where(shard) + " is a shard of " + std::to_string(identity.shard.n) + " where " +
             where(reference) + " is one of " + std::to_string(study.n));
    }
    if (identity.settings.runs != reference.identity().settings.runs ||
        identity.settings.seed != reference.identity().settings.seed) {
      refuse(where(shard) + " has other runs or another seed than " + where(reference));
    }
    if (identity.shard.fingerprint != study.fingerprint ||
        identity.settings != reference.identity().settings ||
        shard.table().max_blocks() != reference.table().max_blocks()) {
      refuse(where(shard) + " is a shard of another study than " + where(reference));
    }
  }
  std::vector<const Shard*> of_k(static_cast<std::size_t>(study.n), nullptr);
  for (const Shard& shard : shards) {
    const Shard*& place = of_k[static_cast<std::size_t>(shard.identity().shard.k)];
    if (place != nullptr) {
      refuse(where(shard) + " is shard " + std::to_string(shard.identity().shard.k) + " of " +
             std::to_string(study.n) + ", and so is " + where(*place));
    }
    place = &shard;
  }
  for (std::size_t k = 0; k < of_k.size(); ++k) {
    if (of_k[k] == nullptr) {
      refuse("shard " + std::to_string(k) + " of " + std::to_string(study.n) + " is missing");
    }
  }
  std::sort(shards.begin(), shards.end(), [](const Shard& a, const Shard& b) {
    return a.identity().shard.k < b.identity().shard.k;
  });
}

}  // namespace

void merge_shards(const std::vector<std::string>& names) {
  std::vector<Shard> shards;
  for (const std::string& name : names) shards.emplace_back(name);
  check_shards(shards);
  const StudySettings& settings = shards[0].identity().settings;
  Output out(shards[0].table(), settings);
  if (settings.runs && settings.search.empty()) {
    merge_runs(shards, out, *settings.runs);
  } else {
    const std::string_view searched = std::string_view(settings.search).substr(0, settings.search.find(':'));
    merge_points(shards, out, settings.search.empty() ? nullptr : find_parameter(searched));
  }
  out.close();
}

}  // namespace blocklevels
