#include "tables/merge.hpp"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "errors/failure.hpp"
#include "output/table_reader.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_streams.hpp"
#include "study/run_settings.hpp"
#include "tables/run_sums.hpp"

namespace blocklevels {
namespace {

using simulation::uint128;

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

std::string quoted(const std::string& name) {
  return "'" + name + "'";
}

// A shard's file, opened once for both passes and held under a shared lock
// (a study writing it holds an exclusive one).
class ShardFile {
 public:
  explicit ShardFile(std::string name) : name_(std::move(name)) {
    fd_ = runtime::above_standard(::open(name_.c_str(), O_RDONLY | O_CLOEXEC));
    if (fd_ < 0) {
      refuse("cannot read " + quoted(name_) + ": " + runtime::os_error_words(errno));
    }
    if (::flock(fd_, LOCK_SH | LOCK_NB) != 0) {
      refuse(quoted(name_) + " is being written by a study; merge it once the study has ended");
    }
    if (const auto stream = runtime::standard_stream_on_descriptor(fd_)) {
      refuse(std::string(*stream) + " is " + quoted(name_) +
             ", a shard merge reads: the merged table would overwrite it; write it to "
             "another file");
    }
  }
  ~ShardFile() { ::close(fd_); }
  ShardFile(const ShardFile&) = delete;
  ShardFile& operator=(const ShardFile&) = delete;
  int fd() const { return fd_; }
  const std::string& name() const { return name_; }

 private:
  std::string name_;
  int fd_ = -1;
};

// One shard: its reader one entry ahead, and what it has handed out.
class Shard {
 public:
  explicit Shard(const ShardFile& file)
      : reader_(std::make_unique<TableReader>(file.fd(), file.name())) {
    if (!advance() || ahead_.source != Source::shard) {
      refuse(quoted(file.name()) + " is not a shard: its first row is not a shard row");
    }
    identity_ = ahead_;
    advance();
  }

  const std::string& name() const { return reader_->path(); }
  const TableEntry& identity() const { return identity_; }
  std::int32_t k() const { return identity_.shard.k; }
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
    if (ahead_.end.fingerprint != reader_->rows_fingerprint()) {
      refuse(quoted(name()) +
             ": its rows are not those its shard_end row fingerprints: edited after the "
             "study wrote them");
    }
    if (advance()) refuse(quoted(name()) + ": rows after its shard_end row");
  }

 private:
  bool advance() {
    at_end_ = !reader_->next(ahead_);
    if (at_end_) return false;
    if (ahead_.source == Source::shard && identity_read_) {
      refuse(quoted(name()) + " line " + std::to_string(reader_->line()) + ": a second shard row");
    }
    // Every row says what the shard row says of the study's settings.
    if (identity_read_ && ahead_.source != Source::shard_end &&
        ahead_.settings != row_settings(ahead_.source, settings_)) {
      refuse(quoted(name()) + " line " + std::to_string(ahead_.first_line) +
             ": a row of other settings than its shard row's");
    }
    if (!identity_read_) settings_ = ahead_.settings;
    identity_read_ = true;
    return true;
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
  StudySettings settings_;
  bool at_end_ = false;
  bool identity_read_ = false;
  std::uint64_t rows_ = 0;
};

// Writes results to standard output in the table's buffer, under the
// study's settings; writes nothing in the checking pass.
class Output {
 public:
  Output(const CsvTable& table, const StudySettings& settings, bool write)
      : table_(table), settings_(settings), write_(write) {
    if (!write_) return;
    runtime::table_file().open(STDOUT_FILENO, runtime::LineEnd::lf, false, kTableBufferSize);
    write_line(runtime::table_file(), table.header());
  }
  void result(const Result& result) {
    if (!write_) return;
    text_.clear();
    table_.append(text_, result, settings_);
    write_line(runtime::table_file(), text_);
  }
  void close() {
    if (write_) close_stream(runtime::table_file());
  }

 private:
  const CsvTable& table_;
  StudySettings settings_;
  bool write_;
  std::string text_;
};

std::string where(const Shard& shard) {
  return quoted(shard.name());
}

// The points of the study as merge meets them, in the study's order: what
// the fingerprint of the shard rows is computed again from.
struct MergedStudy {
  StudySettings settings;
  const ParameterDescription* searched = nullptr;
  long double search_low = 0;
  std::string search_low_text;
  std::vector<Point> points;

  // A search's points are the study's with the searched parameter at the
  // range's low end.
  void add(Point point) {
    if (searched != nullptr) set_parameter(point, *searched, search_low, search_low_text);
    points.push_back(std::move(point));
  }
};

// A point's model reports from one shard: a stopped point alone, or a
// report for every report time in order. Returns the point.
Point take_model_entries(Shard& shard, Output& out, MergedStudy& study, bool& stopped) {
  const TableEntry* first = shard.peek();
  if (first == nullptr || (!std::holds_alternative<ModelReport>(first->result.value) &&
                           !std::holds_alternative<Stopped>(first->result.value))) {
    refuse(where(shard) + " lacks the model rows of its next point");
  }
  const Point point = first->result.point;
  ++shard.points;
  study.add(point);
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

// The model's hitting time of a point, which a study with a hitting
// condition writes after its reports.
void take_model_hitting(Shard& shard, Output& out, const Point& point) {
  const TableEntry* next = shard.peek();
  if (next == nullptr || !std::holds_alternative<ModelHitting>(next->result.value) ||
      !same_point(next->result.point, point)) {
    refuse(where(shard) + " lacks the hitting time of " + describe_point(point));
  }
  out.result(shard.take().result);
}

// The entry's point with `searched` as in `point`.
bool same_but(const Point& entry, const Point& point, const ParameterDescription& searched) {
  Point masked = entry;
  set_parameter(masked, searched, parameter_value(point.p, searched),
                parameter_text(point, searched));
  return same_point(masked, point);
}

// Whether the shard's next entry is a stop of the point searched.
bool stopped_next(Shard& shard, const Point& point, const ParameterDescription& searched) {
  const TableEntry* next = shard.peek();
  return next != nullptr && std::holds_alternative<Stopped>(next->result.value) &&
         same_but(next->result.point, point, searched);
}

// A search's answers of one kind, the model's (Threshold) or the
// simulation's (SimulatedThreshold), the shard's next entry the first: its
// crossings in increasing order of the searched parameter, each followed by
// the runs there when `runs` says so ("the runs at ..." when they lack,
// ended by a stop of the point when `stops`); or its one answer without a
// crossing.
template <typename Answer>
void take_crossings(Shard& shard, Output& out, const Point& point,
                    const ParameterDescription& searched, bool runs, bool stops,
                    const std::string& lacking) {
  bool crossing = std::get<Answer>(shard.peek()->result.value).found;
  Point at = shard.peek()->result.point;
  out.result(shard.take().result);
  while (crossing) {
    if (stops && stopped_next(shard, point, searched)) return;
    if (runs) {
      const TableEntry* entry = shard.peek();
      if (entry == nullptr || !std::holds_alternative<SimulationReport>(entry->result.value) ||
          !same_point(entry->result.point, at)) {
        refuse(where(shard) + " lacks " + lacking + describe_point(at));
      }
      out.result(shard.take().result);
    }
    const TableEntry* next = shard.peek();
    const auto* answer = next == nullptr ? nullptr : std::get_if<Answer>(&next->result.value);
    crossing = answer != nullptr && answer->found &&
               same_but(next->result.point, point, searched) &&
               parameter_value(next->result.point.p, searched) > parameter_value(at.p, searched);
    if (!crossing) break;
    at = next->result.point;
    out.result(shard.take().result);
  }
}

// A search's answers from one shard: the model's, each crossing followed
// by its simulated runs when the study simulates; then, when it simulates,
// the simulated search's (unless the point stopped before them).
void take_search_entries(Shard& shard, Output& out, MergedStudy& study) {
  const ParameterDescription& searched = *study.searched;
  const Point point = shard.peek()->result.point;
  ++shard.points;
  study.add(point);
  const bool runs = study.settings.runs.has_value();
  take_crossings<Threshold>(shard, out, point, searched, runs, false,
                            "the simulated runs of the crossing at ");
  if (!runs || stopped_next(shard, point, searched)) return;
  const TableEntry* entry = shard.peek();
  if (entry == nullptr || !std::holds_alternative<SimulatedThreshold>(entry->result.value) ||
      !same_but(entry->result.point, point, searched)) {
    refuse(where(shard) + " lacks the simulated search of " + describe_point(point));
  }
  take_crossings<SimulatedThreshold>(shard, out, point, searched, true, true,
                                     "the runs at the simulated crossing at ");
}

// A model sweep's shard K holds points K, K + N, ...: one machine's table
// is theirs taken in turn. So does a search's, simulated or not.
void merge_points(std::vector<Shard>& shards, Output& out, MergedStudy& study) {
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
    if (study.searched != nullptr &&
        std::holds_alternative<Threshold>(shard.peek()->result.value)) {
      take_search_entries(shard, out, study);
      continue;
    }
    bool stopped = false;
    const Point point = take_model_entries(shard, out, study, stopped);
    const bool hitting = !study.settings.condition.empty() && study.searched == nullptr;
    if (!stopped && hitting) take_model_hitting(shard, out, point);
    const TableEntry* next = shard.peek();
    if (next != nullptr && !std::holds_alternative<ModelReport>(next->result.value) &&
        !std::holds_alternative<Stopped>(next->result.value) &&
        !std::holds_alternative<Threshold>(next->result.value)) {
      refuse(where(shard) + " holds a " + std::string(source_name(next->source)) +
             " row where a point's first row belongs");
    }
  }
}

// The runs of a study of `runs` runs that shard k of n runs: k, k + n, ...
std::uint64_t runs_of_shard(std::int32_t runs, std::int32_t k, std::int32_t n) {
  return k < runs ? static_cast<std::uint64_t>((runs - 1 - k) / n + 1) : 0;
}

// The runs' hitting times of a point: each shard's counts, added up and
// summarised as one machine does.
void merge_hitting_counts(std::vector<Shard>& shards, Output& out, std::int32_t runs,
                          const Point& point) {
  simulation::HittingTimes times;
  for (Shard& shard : shards) {
    const TableEntry* entry = shard.peek();
    const auto* counts =
        entry == nullptr ? nullptr : std::get_if<HittingCounts>(&entry->result.value);
    if (counts == nullptr || !same_point(entry->result.point, point)) {
      refuse(where(shard) + ": the hitting times of " + describe_point(point) +
             " end before their count of runs that never reached the value");
    }
    std::uint64_t counted = counts->times.never;
    for (const auto& [t, n] : counts->times.first) {
      if (t > point.p.final_iteration) {
        refuse(where(shard) + ": the hitting times of " + describe_point(point) +
               " are not those of any runs");
      }
      counted += n;
    }
    const std::uint64_t share = runs_of_shard(runs, shard.k(), shard.identity().shard.n);
    if (counted != share) {
      refuse(where(shard) + " holds the hitting times of " + std::to_string(counted) + " runs of " +
             describe_point(point) + ", not its " + std::to_string(share));
    }
    times.add(counts->times);
    shard.take();
  }
  out.result({point, HittingSummary{simulation::summarize_hitting(times, point.p.final_iteration,
                                                                  point.p.lambda)}});
}

// Each run's own hitting time of a point: shard k holds runs k, k + n, ...
// in order, one machine's table every run in order.
void merge_hitting_runs(std::vector<Shard>& shards, Output& out, std::int32_t runs,
                        const Point& point) {
  std::vector<HittingRun> merged(static_cast<std::size_t>(runs));
  for (Shard& shard : shards) {
    const auto n = static_cast<std::uint64_t>(shard.identity().shard.n);
    const std::uint64_t share = runs_of_shard(runs, shard.k(), shard.identity().shard.n);
    for (std::uint64_t i = 0; i < share; ++i) {
      const std::uint64_t run = static_cast<std::uint64_t>(shard.k()) + i * n;
      const TableEntry* entry = shard.peek();
      const auto* own = entry == nullptr ? nullptr : std::get_if<HittingRun>(&entry->result.value);
      if (own == nullptr || !same_point(entry->result.point, point) || own->run != run) {
        refuse(where(shard) + ": the runs' own hitting times of " + describe_point(point) +
               " end or skip before run " + std::to_string(run));
      }
      merged[run] = *own;
      shard.take();
    }
  }
  for (const HittingRun& run : merged) out.result({point, run});
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
      refuse(where(shard) + ": the sums of " + describe_point(point) +
             " end or skip at t=" + std::to_string(t));
    }
    const std::uint64_t share = runs_of_shard(runs, shard.k(), shard.identity().shard.n);
    if (sums->totals.runs() != share) {
      refuse(where(shard) + " holds the sums of " + std::to_string(sums->totals.runs()) +
             " runs of " + describe_point(point) + " at t=" + std::to_string(t) + ", not its " +
             std::to_string(share));
    }
    if (!sums_of_runs(sums->totals, point.p)) {
      refuse(where(shard) + ": the sums of " + describe_point(point) +
             " at t=" + std::to_string(t) + " are not those of any runs");
    }
    totals.add(sums->totals);
    shard.take();
  }
  const simulation::Summary summary = simulation::summarize(totals, point.p.lambda);
  SimulationReport report{t, summary.mean_level[0], {}};
  for (std::int32_t j = 1; j <= point.p.blocks; ++j)
    report.fractions.push_back(summary.fraction_at(0, j));
  out.result({point, std::move(report)});
}

// A simulation's shards hold every point, each its own runs: shard 0 the
// model's reports too.
void merge_runs(std::vector<Shard>& shards, Output& out, MergedStudy& study) {
  const std::int32_t runs = *study.settings.runs;
  const bool hitting = !study.settings.condition.empty();
  Shard& first = shards[0];
  while (first.peek() != nullptr) {
    bool stopped = false;
    const Point point = take_model_entries(first, out, study, stopped);
    for (std::size_t k = 1; k < shards.size(); ++k) {
      Shard& shard = shards[k];
      const TableEntry* entry = shard.peek();
      if (entry == nullptr || !same_point(entry->result.point, point) ||
          stopped != std::holds_alternative<Stopped>(entry->result.value)) {
        refuse(where(shard) + " does not hold " + describe_point(point) + " where " + where(first) +
               " does");
      }
      ++shard.points;
      if (stopped) shard.take();  // the same stopped point
    }
    if (stopped) continue;
    if (hitting) take_model_hitting(first, out, point);
    for (std::int64_t report = 0; report < report_count(point.p); ++report) {
      merge_sums(shards, out, runs, point, report_time(point.p, report));
    }
    if (hitting) merge_hitting_counts(shards, out, runs, point);
    if (study.settings.hitting_runs) merge_hitting_runs(shards, out, runs, point);
  }
}

// Every file a shard of the same study, each K once, none missing; then in
// the order of K. Nothing is allocated by what a shard row claims before
// the files given bound it.
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
        shard.table().max_blocks() != reference.table().max_blocks() ||
        shard.table().layout().run_column() != reference.table().layout().run_column()) {
      refuse(where(shard) + " is a shard of another study than " + where(reference));
    }
  }
  std::sort(shards.begin(), shards.end(),
            [](const Shard& a, const Shard& b) { return a.k() < b.k(); });
  for (std::size_t i = 1; i < shards.size(); ++i) {
    if (shards[i].k() == shards[i - 1].k()) {
      refuse(where(shards[i]) + " is shard " + std::to_string(shards[i].k()) + " of " +
             std::to_string(study.n) + ", and so is " + where(shards[i - 1]));
    }
  }
  // The shards are K = 0, 1, ... in order up to the first missing one.
  for (std::size_t k = 0; k < static_cast<std::size_t>(study.n); ++k) {
    if (k >= shards.size() || shards[k].k() != static_cast<std::int32_t>(k)) {
      refuse("shard " + std::to_string(k) + " of " + std::to_string(study.n) + " is missing");
    }
  }
}

// One pass over the shards: every check, and with `write` the merged table.
void merge_pass(const std::vector<std::unique_ptr<ShardFile>>& files, bool write) {
  std::vector<Shard> shards;
  for (const auto& file : files) shards.emplace_back(*file);
  check_shards(shards);
  MergedStudy study;
  study.settings = shards[0].identity().settings;
  study.settings.hitting_runs = shards[0].table().layout().run_column();
  if (!study.settings.search.empty()) {
    // The reader took the search as --find takes it.
    Study search;
    apply_setting(search, *find_setting("find"), study.settings.search, Spelling::option);
    study.searched = search.find->parameter;
    study.search_low = search.find->low;
    study.search_low_text = search.find_range.substr(0, search.find_range.find(':'));
  }
  Output out(shards[0].table(), study.settings, write);
  if (study.settings.runs && study.settings.search.empty()) {
    merge_runs(shards, out, study);
  } else {
    merge_points(shards, out, study);
  }
  for (Shard& shard : shards) shard.finish();
  // What identifies the study, computed again from the rows read.
  if (study_fingerprint(study.points, study.settings) != shards[0].identity().shard.fingerprint) {
    refuse(
        "the shards' rows are not those of the study their shard rows fingerprint: a point "
        "or setting was edited, or a point is missing");
  }
  out.close();
}

}  // namespace

void merge_shards(const std::vector<std::string>& names) {
  // A descriptor per shard (two while a pass reads it): the soft limit
  // raised as far as the hard one allows; beyond, the open says so.
  runtime::raise_descriptor_limit();
  std::vector<std::unique_ptr<ShardFile>> files;
  for (const std::string& name : names) files.push_back(std::make_unique<ShardFile>(name));
  // The first pass checks everything and writes nothing, so that a refusal
  // leaves no part of a table on standard output; the second writes.
  merge_pass(files, false);
  merge_pass(files, true);
}

}  // namespace blocklevels
