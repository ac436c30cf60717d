#include "runs/table_resume.hpp"

#include <unistd.h>

#include <optional>

#include "errors/failure.hpp"
#include "output/table_reader.hpp"
#include "parameters/parameter_table.hpp"
#include "study/study_identity.hpp"

namespace blocklevels {
namespace {

// One result a point of the study gives: its kind and, where it has one,
// its generation (any_t: whatever generation) or its run.
struct EntryShape {
  std::size_t kind;  // the index in ResultValue
  std::optional<std::int64_t> t;
  bool any_t = false;
  std::optional<std::uint64_t> run;
};

template <class T>
std::size_t kind_of() {
  return ResultValue(T{}).index();
}

std::optional<std::uint64_t> run_of(const ResultValue& value) {
  if (const auto* r = std::get_if<HittingRun>(&value)) return r->run;
  return std::nullopt;
}

std::optional<std::int64_t> time_of(const ResultValue& value) {
  if (const auto* m = std::get_if<ModelReport>(&value)) return m->t;
  if (const auto* s = std::get_if<SimulationReport>(&value)) return s->t;
  if (const auto* s = std::get_if<ShardSums>(&value)) return s->t;
  return std::nullopt;
}

// The results a point of the study gives, in order, when it ends well: a
// model report per report time (none in a simulation shard other than 0)
// and its hitting time, then the simulation's per report time and its
// hitting times, each run's own after them when the study asks. A
// search's are not known before it runs: it has none.
std::vector<EntryShape> entries_of(const Study& study, const Point& point) {
  std::vector<EntryShape> shapes;
  if (study.find) return shapes;
  const std::int64_t reports = report_count(point.p);
  if (!(study.shards_runs() && study.shard_index != 0)) {
    for (std::int64_t r = 0; r < reports; ++r) {
      shapes.push_back({kind_of<ModelReport>(), report_time(point.p, r), false, {}});
    }
    if (study.hitting) shapes.push_back({kind_of<ModelHitting>(), std::nullopt, true, {}});
  }
  if (study.simulate_runs > 0) {
    const std::size_t kind =
        study.shards_runs() ? kind_of<ShardSums>() : kind_of<SimulationReport>();
    for (std::int64_t r = 0; r < reports; ++r) {
      shapes.push_back({kind, report_time(point.p, r), false, {}});
    }
    if (study.hitting) {
      shapes.push_back({study.shards_runs() ? kind_of<HittingCounts>() : kind_of<HittingSummary>(),
                        std::nullopt,
                        true,
                        {}});
    }
    if (study.hitting && study.hitting_runs) {
      // A shard of the runs holds runs K, K + N, ...; a table all of them.
      const auto runs = static_cast<std::uint64_t>(study.simulate_runs);
      const auto first = static_cast<std::uint64_t>(study.shards_runs() ? study.shard_index : 0);
      const auto stride = static_cast<std::uint64_t>(study.shards_runs() ? study.shard_count : 1);
      for (std::uint64_t run = first; run < runs; run += stride) {
        shapes.push_back({kind_of<HittingRun>(), std::nullopt, true, run});
      }
    }
  }
  return shapes;
}

// An entry's point with the searched parameter as in `point`: the results
// of one search differ from their study point in that parameter only.
Point with_searched_of(const Point& point, Point entry, const Study& study) {
  if (study.find) {
    const ParameterDescription& d = *study.find->parameter;
    set_parameter(entry, d, parameter_value(point.p, d), parameter_text(point, d));
  }
  return entry;
}

class KeptReader {
 public:
  KeptReader(const Study& study, std::span<const std::size_t> mine, int fd, const std::string& path)
      : study_(study),
        mine_(mine),
        path_(path),
        fd_(fd),
        reader_(fd, path, true),
        settings_(settings_of(study)) {}

  ResumedTable read();

 private:
  [[noreturn]] void refuse(const std::string& why) const {
    throw Failure(kBadUsage, "--resume: '" + path_ + "' line " + std::to_string(reader_.line()) +
                                 " is not of this study: " + why + "; it is left as it was");
  }
  void check_shard_row();
  std::string without_header() const;
  void take(const TableEntry& entry);
  void start(const TableEntry& entry);
  void keep(std::uint64_t to) {
    kept_.push_back({open_place_, from_, to});
    open_ = false;
  }

  const Study& study_;
  std::span<const std::size_t> mine_;
  const std::string& path_;
  int fd_;
  TableReader reader_;
  StudySettings settings_;
  std::vector<KeptPoint> kept_;
  std::size_t next_ = 0;  // the first place in `mine` still free
  // The point whose results are being read: its place, its results, how
  // many were read, where its rows began and where the last one ended.
  bool open_ = false;
  std::size_t open_place_ = 0;
  std::vector<EntryShape> expected_;
  std::size_t matched_ = 0;
  std::uint64_t from_ = 0, last_end_ = 0;
  bool ended_ = false;
};

void KeptReader::check_shard_row() {
  const ShardIdentity identity{study_.shard_index, study_.shard_count, study_fingerprint(study_)};
  TableEntry entry;
  // A table cut back to its header holds nothing yet.
  if (!reader_.next(entry)) return;
  if (entry.source != Source::shard || entry.shard != identity ||
      entry.settings != row_settings(Source::shard, settings_)) {
    refuse("not its shard row");
  }
}

// A table without a whole header: a study ended before its first row was
// written, or a file of something else. The first is started afresh.
std::string KeptReader::without_header() const {
  const std::string header = CsvTable(study_.max_blocks, settings_.hitting_runs).header();
  std::string start(header.size(), '\0');
  const ssize_t n = ::pread(fd_, start.data(), start.size(), 0);
  if (n < 0 ||
      !header.starts_with(std::string_view(start).substr(0, static_cast<std::size_t>(n)))) {
    throw Failure(kBadUsage, "--resume: '" + path_ +
                                 "' holds no table header, nor the start of this study's; it "
                                 "is left as it was");
  }
  return "--resume: '" + path_ + "' holds no whole header (" +
         (n == 0 ? std::string("it is empty") : "it ends inside it") +
         "): the study it was begun for wrote no row; it starts afresh";
}

ResumedTable KeptReader::read() {
  if (!reader_.holds_header()) return {{}, without_header()};
  if (reader_.table().max_blocks() != study_.max_blocks ||
      reader_.table().layout().run_column() != settings_.hitting_runs) {
    throw Failure(kBadUsage, "--resume: '" + path_ +
                                 "' has the columns of another study; it is left as it was");
  }
  if (study_.sharded) check_shard_row();
  TableEntry entry;
  while (reader_.next(entry)) {
    if (ended_) refuse("a row after the shard_end row");
    if (entry.source == Source::shard_end) {
      if (!study_.sharded) refuse("a shard's row");
      ended_ = true;
      // A search's last point is whole when the shard says it has ended.
      if (open_ && study_.find) keep(last_end_);
      open_ = false;
      continue;
    }
    if (entry.source == Source::shard) refuse("a second shard row");
    if (entry.settings != row_settings(entry.source, settings_)) {
      refuse("other runs or seed, or another question asked");
    }
    take(entry);
  }
  std::string note;
  if (reader_.ends_inside_a_row()) {
    note = "--resume: '" + path_ + "' ends inside line " + std::to_string(reader_.line() + 1) +
           " (its study was ended while writing it): the whole rows before are kept, the " +
           "rest run again";
  }
  return {std::move(kept_), std::move(note)};
}

void KeptReader::take(const TableEntry& entry) {
  const ResultValue& value = entry.result.value;
  if (open_ && study_.find) {
    // A crossing after the first, or a crossing's simulated runs.
    const Point& point = study_.points[mine_[open_place_]];
    const auto* threshold = std::get_if<Threshold>(&value);
    if ((threshold == nullptr || threshold->found) &&
        same_point(with_searched_of(point, entry.result.point, study_), point)) {
      last_end_ = entry.end_offset;
      return;
    }
    keep(last_end_);
  }
  if (open_) {
    const Point& point = study_.points[mine_[open_place_]];
    const EntryShape& shape = expected_[matched_];
    if (value.index() == shape.kind && (shape.any_t || time_of(value) == shape.t) &&
        run_of(value) == shape.run && same_point(entry.result.point, point)) {
      if (++matched_ == expected_.size()) keep(entry.end_offset);
      return;
    }
    open_ = false;  // cut short: that point runs again
  }
  start(entry);
}

// The first result of a point: which point it is, and what must follow.
void KeptReader::start(const TableEntry& entry) {
  const ResultValue& value = entry.result.value;
  std::size_t place = next_;
  while (place < mine_.size() &&
         !same_point(study_.points[mine_[place]],
                     with_searched_of(study_.points[mine_[place]], entry.result.point, study_))) {
    ++place;
  }
  if (place == mine_.size()) refuse("a point this study does not run here, or not there");
  next_ = place + 1;
  open_place_ = place;
  from_ = entry.start;
  if (const auto* stopped = std::get_if<Stopped>(&value)) {
    // Ended by a signal from outside (killed, or the system out of
    // memory): no answer of the point's own, so it runs again.
    if (!stopped->by_signal) kept_.push_back({place, from_, entry.end_offset});
    return;
  }
  if (study_.find) {
    const auto* threshold = std::get_if<Threshold>(&value);
    if (threshold == nullptr) refuse("a point's results out of their order");
    last_end_ = entry.end_offset;
    // A point without a crossing has its one answer, unless the simulated
    // search's follow.
    open_ = threshold->found || study_.simulate_runs > 0;
    if (!open_) kept_.push_back({place, from_, last_end_});
    return;
  }
  expected_ = entries_of(study_, study_.points[mine_[place]]);
  if (expected_.empty() || value.index() != expected_[0].kind ||
      (!expected_[0].any_t && time_of(value) != expected_[0].t)) {
    refuse("a point's results out of their order");
  }
  matched_ = 1;
  open_ = expected_.size() > 1;
  if (!open_) kept_.push_back({place, from_, entry.end_offset});
}

}  // namespace

ResumedTable kept_points(const Study& study, std::span<const std::size_t> mine, int fd,
                         const std::string& path) {
  return KeptReader(study, mine, fd, path).read();
}

}  // namespace blocklevels
