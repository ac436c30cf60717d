#include "runs/study_run.hpp"

#include <unistd.h>

#include <algorithm>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "errors/failure.hpp"
#include "figures/figure_points.hpp"
#include "figures/study_figure.hpp"
#include "output/csv_table.hpp"
#include "output/output_files.hpp"
#include "output/point_messages.hpp"
#include "output/progress.hpp"
#include "output/row_fingerprint.hpp"
#include "output/summary_line.hpp"
#include "output/table_reader.hpp"
#include "output/write_statement.hpp"
#include "points/model_cache.hpp"
#include "points/point_run.hpp"
#include "runs/process_workers.hpp"
#include "runs/scheduler.hpp"
#include "runs/study_workers.hpp"
#include "runs/table_resume.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/deferred_interrupts.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/memory_room.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "study/study_identity.hpp"
#include "study/study_memory.hpp"

namespace blocklevels {
namespace {

// The descriptors a study holds besides its points': the standard streams,
// the table and the one resumed, the report file, the wake pipe, a figure's
// drawing, the threads' news pipe and room to spare.
constexpr std::size_t kDescriptorsBeside = 24;

// The table's rows, written as each result is taken, whole rows only.
class TableSink final : public ResultSink {
 public:
  TableSink(const CsvTable& table, const StudySettings& settings)
      : table_(table), settings_(settings) {}
  void take(const Result& result) override {
    text_.clear();
    table_.append(text_, result, settings_);
    if (text_.empty()) return;
    rows_ += static_cast<std::uint64_t>(std::count(text_.begin(), text_.end(), '\n'));
    fingerprint_.add(text_);
    write_line(runtime::table_file(), text_);
  }
  std::uint64_t rows() const { return rows_; }
  // A shard's rows are fingerprinted from its shard row on.
  void begin_shard(std::uint64_t study, std::string_view shard_row) {
    fingerprint_ = RowFingerprint(study);
    fingerprint_.add(shard_row);
  }
  std::uint64_t fingerprint() const { return fingerprint_.value(); }

 private:
  const CsvTable& table_;
  const StudySettings& settings_;
  std::string text_;
  std::uint64_t rows_ = 0;  // the rows of points written so far
  RowFingerprint fingerprint_{0};
};

// Hands each result to every sink that is there.
class Sinks final : public ResultSink {
 public:
  void add(ResultSink* sink) {
    if (sink != nullptr) sinks_.push_back(sink);
  }
  void begin_point(const Point& point, std::size_t number) override {
    for (ResultSink* s : sinks_) s->begin_point(point, number);
  }
  void take(const Result& result) override {
    for (ResultSink* s : sinks_) s->take(result);
  }
  void end_point() override {
    for (ResultSink* s : sinks_) s->end_point();
  }

 private:
  std::vector<ResultSink*> sinks_;
};

// A search's stage as its progress line says it.
std::string stage_words(SearchStage stage) {
  switch (stage) {
    case SearchStage::model:
      return " the model";
    case SearchStage::simulated_crossings:
      return " the model, runs at its crossings";
    case SearchStage::simulated_grid:
      return " the simulation, its grid";
    case SearchStage::simulated_refinement:
      return " the simulation, its crossings";
  }
  return "";
}

// The progress line: "points 3/64, runs 2/6 of point 4", or for one point
// "t 120/2000" (or "searching the simulation, its grid") and "runs 2/6".
class ProgressLine final : public ProgressDisplay {
 public:
  ProgressLine(Progress& progress, bool search) : progress_(progress), search_(search) {}
  bool enabled() const override { return progress_.enabled(); }
  void show(const StudyProgress& p) override {
    std::string what;
    if (p.points > 1) {
      what = "points " + std::to_string(p.done) + "/" + std::to_string(p.points);
    } else if (!search_) {
      what = "t " + std::to_string(p.t) + "/" + std::to_string(p.last_t);
    } else {
      what = "searching" + stage_words(static_cast<SearchStage>(p.t));
    }
    if (p.simulating != 0) {
      what += ", runs " + std::to_string(p.runs_done) + "/" + std::to_string(p.runs_total);
      if (p.points > 1) what += " of point " + std::to_string(p.simulating);
    }
    progress_.show(what, p.share);
  }

 private:
  Progress& progress_;
  bool search_;
};

class StudyRunner final : public PointWriter {
 public:
  explicit StudyRunner(const Study& study)
      : study_(study),
        settings_(settings_of(study)),
        table_(study.max_blocks, settings_.hitting_runs),
        files_(study),
        table_sink_(table_, settings_),
        searched_(study.find ? study.find->parameter : nullptr),
        figure_(study) {}
  int run();
  void write(std::size_t index, const WorkerEvent& end, bool kept) override;

 private:
  bool csv() const { return files_.table_fd() >= 0 || study_.csv == "-"; }
  void choose_points();
  void make_work();
  void open_outputs();
  void shard_row(Source source);
  [[noreturn]] void interrupted(int signal, const std::vector<std::size_t>& missing);
  void finish_table();
  void draw_figure();
  std::size_t concurrency();
  void keep_whole_rows();
  void check_before_running();
  void run_points(const ProcessSettings& process, std::size_t jobs);
  [[noreturn]] void end_after_failure();

  const Study& study_;
  StudySettings settings_;
  CsvTable table_;
  OutputFiles files_;
  TableSink table_sink_;
  const ParameterDescription* searched_;
  FigureCollector figure_;
  Progress progress_;
  std::optional<SummaryLines> summaries_;
  std::optional<PointMessages> messages_;
  Sinks sinks_;
  std::optional<ModelCache> models_;  // outlives the workers that use it
  std::optional<StudyWorkers> workers_;
  // The points this process runs (a shard's share), their work, and the
  // points an earlier run left complete.
  std::vector<std::size_t> mine_;
  std::vector<const Point*> points_;
  std::vector<PointWork> work_;
  std::vector<std::optional<KeptPoint>> kept_;
  std::optional<TableReader> old_table_;
  std::string gnuplot_;
};

void StudyRunner::choose_points() {
  // A sweep's shard runs every N-th point; a simulation's shard runs every
  // N-th run of every point.
  for (std::size_t i = 0; i < study_.points.size(); ++i) {
    const bool every_point = study_.shards_runs() || !study_.sharded;
    if (every_point ||
        static_cast<int>(i % static_cast<std::size_t>(study_.shard_count)) == study_.shard_index) {
      mine_.push_back(i);
      points_.push_back(&study_.points[i]);
    }
  }
  kept_.resize(mine_.size());
}

void StudyRunner::make_work() {
  PointWork work;
  work.model_reports = !(study_.shards_runs() && study_.shard_index != 0);
  work.every_report = csv() || !study_.plot.empty();
  work.runs = study_.simulate_runs;
  work.seed = study_.seed;
  if (study_.shards_runs()) {
    work.first_run = static_cast<std::uint64_t>(study_.shard_index);
    work.run_stride = static_cast<std::uint64_t>(study_.shard_count);
  }
  work.sums = study_.shards_runs();
  work.find = study_.find ? &*study_.find : nullptr;
  work.hitting = study_.hitting ? &*study_.hitting : nullptr;
  work.hitting_runs = settings_.hitting_runs;
  work_.assign(points_.size(), work);
}

void StudyRunner::open_outputs() {
  files_.open(study_.resume);
  if (files_.old_table_fd() >= 0) {
    // The table is read through the descriptor opened (and locked) once,
    // never by its name again.
    const ResumedTable resumed = kept_points(study_, mine_, files_.old_table_fd(), study_.csv);
    for (const KeptPoint& kept : resumed.kept) kept_[kept.place] = kept;
    if (!resumed.note.empty()) runtime::say(resumed.note);
    if (!resumed.kept.empty()) old_table_.emplace(files_.old_table_fd(), study_.csv, true);
  }
  const bool csv_on_stdout = study_.csv == "-";
  // --quiet is for standard output: the progress line stays.
  progress_.enable(!study_.no_progress && ::isatty(STDERR_FILENO) == 1);
  // A search's or hitting time's answer is its summary line, even for a
  // single point.
  const bool summaries = (study_.is_sweep() || study_.find || study_.hitting) && !study_.quiet &&
                         !csv_on_stdout && !study_.sharded;
  if (summaries) {
    runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
    summaries_.emplace(runtime::console(), progress_, searched_,
                       study_.find ? &study_.find->condition : nullptr);
  }
  messages_.emplace(progress_, study_.is_sweep(), study_.find ? &*study_.find : nullptr,
                    study_.find_range);
  if (csv()) sinks_.add(&table_sink_);
  sinks_.add(&*messages_);
  if (summaries_) sinks_.add(&*summaries_);
  if (!study_.plot.empty()) sinks_.add(&figure_);
}

// A point whose turn has come: its results from its worker, or as an
// earlier run left them in the table.
void StudyRunner::write(std::size_t index, const WorkerEvent& end, bool kept) {
  sinks_.begin_point(*points_[index], mine_[index] + 1);
  if (kept) {
    TableReader& old = *old_table_;
    old.seek(kept_[index]->from);
    TableEntry entry;
    std::uint64_t at = kept_[index]->from;
    // The table holds no model check: it is its model and simulation rows
    // compared, as the point's run compared them.
    std::vector<ModelReport> model;
    std::vector<SimulationReport> simulated;
    while (at < kept_[index]->to && old.next(entry)) {
      sinks_.take(entry.result);
      if (const auto* m = std::get_if<ModelReport>(&entry.result.value)) model.push_back(*m);
      if (const auto* s = std::get_if<SimulationReport>(&entry.result.value)) {
        simulated.push_back(*s);
      }
      at = entry.end_offset;
    }
    if (!study_.find && !model.empty()) {
      const Point& point = *points_[index];
      const std::optional<ModelCheck> check = check_model(
          point.p, static_cast<std::uint64_t>(std::max(0, study_.simulate_runs)), model, simulated);
      if (check) sinks_.take({point, ModelChecked{*check}});
    }
  } else {
    try {
      workers_->results(index, end, sinks_);
    } catch (const records::RecordError& garbled) {
      // Only a fault of the program itself gets here.
      throw Failure(kOtherTrap, describe_point(*points_[index]) +
                                    ": the point's records are garbled: " + garbled.what());
    }
  }
  sinks_.end_point();
}

// A shard's first or last row.
void StudyRunner::shard_row(Source source) {
  if (!csv() || !study_.sharded) return;
  const ShardIdentity shard{study_.shard_index, study_.shard_count, study_fingerprint(study_)};
  std::string text;
  if (source == Source::shard) {
    table_.append_shard(text, shard, settings_);
    table_sink_.begin_shard(shard.fingerprint, text);
  } else {
    table_.append_shard_end(text, shard, settings_,
                            {table_sink_.rows(), points_.size(), table_sink_.fingerprint()});
  }
  write_line(runtime::table_file(), text);
}

void StudyRunner::finish_table() {
  close_stream(runtime::table_file());
  files_.close_table();
  files_.replace_table();
}

// The first interrupt: every point that had ended is written, those still
// running are ended, and the study says which are missing before it ends by
// the interrupt's own signal.
void StudyRunner::interrupted(int signal, const std::vector<std::size_t>& missing) {
  progress_.clear();
  finish_table();
  std::string which;
  for (std::size_t n = 0; n < missing.size() && n < 10; ++n) {
    which += (n == 0 ? "" : ", ") + std::to_string(missing[n]);
  }
  if (missing.size() > 10) which += ", ...";
  runtime::say(
      "interrupted: " + std::to_string(missing.size()) + " of " + std::to_string(points_.size()) +
      " points are incomplete" + (missing.empty() ? std::string() : " (" + which + ")") +
      (study_.csv.empty() || study_.csv == "-" ? std::string()
                                               : "; the same command with --resume continues"));
  runtime::end_by_signal(signal);
}

void StudyRunner::draw_figure() {
  const std::optional<PlotRequest> request = figure_request(study_, figure_.points());
  if (!request) return;
  try {
    draw_plot(gnuplot_, *request, files_.create_figure_draft());
    files_.place_figure();
    if (const std::string note = figure_.thinning_note(); !note.empty()) runtime::say(note);
  } catch (const Failure& failure) {
    // The exit status of a point that stopped comes first.
    if (messages_->first_failure() == 0) throw;
    throw Failure(messages_->first_failure(), failure.message());
  }
}

// The points run at once: --jobs, as far as the descriptors allow. Each
// running point holds a pipe and a records file, and each point ended
// ahead of its turn a records file (Scheduler::look_ahead).
std::size_t StudyRunner::concurrency() {
  const auto asked = static_cast<std::size_t>(std::min(study_.jobs, runtime::kMaxChildProcesses));
  const std::size_t limit = runtime::raise_descriptor_limit();
  const auto descriptors = [](std::size_t jobs) {
    return kDescriptorsBeside + jobs + Scheduler::look_ahead(jobs);
  };
  std::size_t jobs = asked;
  while (jobs > 1 && descriptors(jobs) > limit) --jobs;
  if (jobs < asked) {
    runtime::say("--jobs " + std::to_string(study_.jobs) + ": " + std::to_string(jobs) +
                 " points run at once, as many as the limit of " + std::to_string(limit) +
                 " open files allows (ulimit -n raises it)");
  }
  return jobs;
}

// A study that stops on a failure other than its table's (standard output
// gone, a point's records lost, no memory): the table holds whole rows,
// every point it had written whole, and --resume continues it. A resumed
// table is left as it was: its kept points not yet written again would
// be lost.
void StudyRunner::keep_whole_rows() {
  runtime::table_file().flush();
  files_.cut_table_to_whole_rows();
}

// What is refused before anything runs: a figure without gnuplot, and one
// point too big for memory (a sweep's points find out in their processes).
void StudyRunner::check_before_running() {
  if (!study_.plot.empty()) {
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty()) {
      throw Failure(kOutputRefused,
                    "--plot needs gnuplot, which is not installed (Debian: apt-get install "
                    "gnuplot-nox)");
    }
  }
  if (!study_.is_sweep()) {
    const runtime::MemoryRoom room = runtime::memory_room();
    check_study_memory(study_, room.bytes, room.limit, Spelling::option);
  }
}

// The points' workers, started and scheduled until every point is written
// or an interrupt ends the study.
void StudyRunner::run_points(const ProcessSettings& process, std::size_t jobs) {
  std::vector<SchedulerPoint> scheduled;
  for (std::size_t i = 0; i < points_.size(); ++i) {
    scheduled.push_back({mine_[i] + 1, last_report_time(points_[i]->p), kept_[i].has_value()});
  }
  const int wake = runtime::defer_interrupts();
  // Each point on a thread unless it needs the isolation of a process.
  const runtime::MemoryRoom room = runtime::memory_room();
  const bool single = !study_.is_sweep() || process.console_lines || process.report_fd >= 0;
  std::vector<bool> on_thread(points_.size());
  for (std::size_t i = 0; i < points_.size(); ++i) {
    on_thread[i] = runs_on_thread(points_[i]->p, work_[i], single, study_.jobs, room.bytes);
  }
  // Points all on threads are started ahead of the threads: one that ends
  // its point takes the next at once, and the study wakes once for
  // several ends.
  const bool all_on_threads =
      std::find(on_thread.begin(), on_thread.end(), false) == on_thread.end();
  const std::size_t started = all_on_threads ? jobs * kThreadPointsAhead : jobs;
  models_.emplace(model_cache_budget(room.bytes), kModelCacheEntries);
  workers_.emplace(points_, work_, process, wake, std::move(on_thread), &*models_);
  ProgressLine line(progress_, study_.find.has_value());
  Scheduler scheduler(std::move(scheduled), started, *workers_, *this, line);
  if (const int signal = scheduler.run(runtime::pending_interrupt)) {
    interrupted(signal, scheduler.missing());
  }
}

// Whatever ends the study ends its points too; the table keeps its whole
// rows, and a failure to write it is said as one. Rethrows the rest.
void StudyRunner::end_after_failure() {
  runtime::end_child_processes();
  if (files_.table_fd() >= 0) keep_whole_rows();
  if (runtime::table_file().result() != 0 && files_.table_fd() >= 0) {
    const int number = runtime::table_file().result();
    throw Failure(number,
                  "cannot write '" + study_.csv +
                      "': " + runtime::os_error_words(runtime::table_file().failure_code()) +
                      " (status " + std::to_string(number) + "); " +
                      (files_.old_table_fd() >= 0 ? "the table is left as it was before --resume"
                                                  : "the table ends with its last whole row"));
  }
  throw;
}

int StudyRunner::run() {
  check_before_running();
  ProcessSettings process;
  if (!study_.csv.empty() && study_.csv != "-") {
    const std::size_t slash = study_.csv.rfind('/');
    process.records_directory = slash == std::string::npos ? "." : study_.csv.substr(0, slash + 1);
  }
  check_records_place(process.records_directory);
  choose_points();
  const std::size_t jobs = concurrency();
  open_outputs();
  make_work();
  process.console_lines = !study_.is_sweep() && !study_.quiet && study_.csv != "-";
  process.report_fd = study_.report_file == "-" ? STDOUT_FILENO : files_.report_fd();
  process.stop_style = study_.is_sweep() ? runtime::StopStyle::silent : runtime::StopStyle::words;
  process.jobs = study_.jobs;
  try {
    if (csv()) {
      runtime::table_file().open(study_.csv == "-" ? STDOUT_FILENO : files_.table_fd(),
                                 runtime::LineEnd::lf, false, kTableBufferSize);
      write_line(runtime::table_file(), table_.header());
    }
    shard_row(Source::shard);
    run_points(process, jobs);
    progress_.clear();
    shard_row(Source::shard_end);
    close_stream(runtime::table_file());
    files_.close_table();
  } catch (...) {
    end_after_failure();
  }
  files_.replace_table();
  close_stream(runtime::console());
  if (!study_.plot.empty()) draw_figure();
  return messages_->first_failure();
}

}  // namespace

int run_study(const Study& study) {
  StudyRunner runner(study);
  return runner.run();
}

}  // namespace blocklevels
