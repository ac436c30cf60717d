#include "runs/study_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string_view>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "output/csv_table.hpp"
#include "figures/plot.hpp"
#include "output/progress.hpp"
#include "output/table_reader.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/deferred_interrupts.hpp"
#include "runtime/descriptors.hpp"
#include "errors/failure.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/stop_report.hpp"
#include "output/output_files.hpp"
#include "runs/point_process.hpp"
#include "runs/point_records.hpp"
#include "figures/point_rows.hpp"
#include "figures/study_figure.hpp"
#include "study/study_identity.hpp"
#include "runs/table_resume.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

std::string status_words(int status, bool by_signal) {
  if (by_signal) return "ended by signal " + std::to_string(status - 128);
  return "stopped: " + std::string(stop_meaning(status)) + " (status " + std::to_string(status) +
         ")";
}

// An unnamed file that holds a point's records until its rows are written:
// in `directory` (the table's), so that the rows wait on the disk the
// table goes to, or in TMPDIR.
int records_file(const std::string& directory) {
  for (const std::string& place : {directory, std::string()}) {
    std::string dir = place;
    if (dir.empty()) {
      const char* tmp = std::getenv("TMPDIR");
      dir = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
    }
    const int fd =
        runtime::above_standard(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (fd >= 0) return fd;
    std::string name = dir + "/.blocklevels-records-XXXXXX";
    const int named = runtime::above_standard(::mkostemp(name.data(), O_CLOEXEC));
    if (named >= 0) {
      ::unlink(name.c_str());
      return named;
    }
  }
  throw_stop(runtime::os_error_number(errno));
}

// What the study knows of one of its points.
struct PointState {
  std::size_t number = 0;  // 1-based, in the whole study
  const Point* point = nullptr;
  enum class Phase { waiting, running, ended, kept, written } phase = Phase::waiting;
  pid_t pid = -1;
  int progress_fd = -1;  // while running
  int records_fd = -1;   // once started, until written
  int status = 0;
  bool by_signal = false;
  std::optional<KeptPoint> kept;
  records::Reader progress;
  std::int64_t t_reached = 0;
  std::uint64_t runs_done = 0, runs_total = 0;  // its simulation's, while it runs
  PointRows rows;                               // what its written rows say
};

class StudyRunner {
 public:
  explicit StudyRunner(const Study& study)
      : study_(study), table_(study.table_width()), files_(study) {}
  int run();

 private:
  void start(PointState& state);
  void receive_progress(PointState& state);
  void end_child(PointState& state);
  void write_point(PointState& state);
  void write_records(PointState& state, std::optional<records::Failure>& failure);
  void write_record(PointState& state, const records::Record& record, Point& at);
  void write_kept(PointState& state);
  void write_row(PointState& state, const TableRow& row);
  void conclude(PointState& state, const std::optional<records::Failure>& failure);
  [[noreturn]] void interrupted(int signal);
  void show_progress();
  void draw_figure();
  void shard_row(Source source);
  int run_points();
  bool csv() const { return files_.table_fd() >= 0 || study_.csv == "-"; }

  const Study& study_;
  CsvTable table_;
  OutputFiles files_;
  std::optional<SimulationColumns> simulation_;
  std::vector<PointState> states_;
  std::size_t next_write_ = 0;
  bool summaries_ = false;
  bool every_report_ = false;
  int first_failure_ = 0;
  std::string gnuplot_;
  std::string records_directory_;
  std::optional<TableReader> old_table_;
  Progress progress_;
  std::string text_;
  std::uint64_t rows_written_ = 0;  // the table's rows of points
};

void StudyRunner::start(PointState& state) {
  int progress[2] = {-1, -1};
  if (::pipe2(progress, O_CLOEXEC) != 0) throw_stop(runtime::os_error_number(errno));
  for (int& fd : progress) {
    fd = runtime::above_standard(fd);
    if (fd < 0) throw_stop(runtime::os_error_number(errno));
  }
  state.records_fd = records_file(records_directory_);
  // What a child inherits of the parent's buffers must already be written.
  runtime::console().flush();
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    PointWork work;
    work.point = state.point;
    work.records_fd = state.records_fd;
    work.progress_fd = progress[1];
    work.every_report = every_report_;
    work.model_reports = !(study_.shards_runs() && study_.shard_index != 0);
    work.console_lines = !study_.is_sweep() && !study_.quiet && study_.csv != "-";
    work.report_fd = study_.report_file == "-" ? STDOUT_FILENO : files_.report_fd();
    work.stop_style = study_.is_sweep() ? runtime::StopStyle::silent : runtime::StopStyle::words;
    work.simulate_runs = study_.simulate_runs;
    work.seed = study_.seed;
    work.find = study_.find ? &*study_.find : nullptr;
    work.hitting = study_.hitting ? &*study_.hitting : nullptr;
    if (study_.shards_runs()) {
      work.sharded = true;
      work.shard_index = study_.shard_index;
      work.shard_count = study_.shard_count;
    }
    const std::size_t running =
        std::min<std::size_t>(static_cast<std::size_t>(study_.jobs), states_.size());
    work.threads = std::max(1, study_.jobs / static_cast<int>(running));
    ::close(progress[0]);
    run_point(work);
  }
  ::close(progress[1]);
  state.pid = pid;
  state.progress_fd = progress[0];
  state.phase = PointState::Phase::running;
}

void StudyRunner::receive_progress(PointState& state) {
  char chunk[4096];
  const ssize_t n = ::read(state.progress_fd, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return;
  if (n > 0) {
    state.progress.feed({chunk, static_cast<std::size_t>(n)});
    try {
      while (const std::optional<records::Record> record = state.progress.next()) {
        if (const auto* p = std::get_if<records::Progress>(&*record)) {
          state.t_reached = p->t;
          if (p->runs_total > 0) {
            state.runs_done = p->runs_done;
            state.runs_total = p->runs_total;
          }
        }
      }
    } catch (const std::runtime_error&) {
      // Progress is only shown: a garbled one is not worth stopping for.
    }
    return;
  }
  end_child(state);
}

// The point's process has closed its pipe: it has ended, or is ending.
void StudyRunner::end_child(PointState& state) {
  if (state.progress_fd >= 0) ::close(state.progress_fd);
  state.progress_fd = -1;
  int status = 0;
  while (::waitpid(state.pid, &status, 0) < 0 && errno == EINTR) {
  }
  runtime::remove_child_process(state.pid);
  state.phase = PointState::Phase::ended;
  if (WIFEXITED(status)) {
    state.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    state.status = 128 + WTERMSIG(status);
    state.by_signal = true;
  }
}

void StudyRunner::write_row(PointState& state, const TableRow& row) {
  if (csv()) {
    text_.clear();
    table_.append(text_, row);
    write_line(runtime::table_file(), text_);
    ++rows_written_;
  }
  if (row.source == Source::model && !row.t) state.status = row.status;
  state.rows.take(row, study_.find ? &study_.find->condition.quantity : nullptr,
                  !study_.plot.empty());
}

// The rows of a point whose process ended well, from its records; or the
// failure its process recorded.
void StudyRunner::write_records(PointState& state, std::optional<records::Failure>& failure) {
  const Point& point = *state.point;
  // The point of the rows that follow: a search's crossing, once found.
  Point at = point;
  records::Reader reader;
  char chunk[1 << 16];
  std::uint64_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(state.records_fd, chunk, sizeof chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw_stop(runtime::os_error_number(errno));
    if (n == 0) break;
    offset += static_cast<std::uint64_t>(n);
    reader.feed({chunk, static_cast<std::size_t>(n)});
    try {
      while (const std::optional<records::Record> record = reader.next()) {
        if (const auto* f = std::get_if<records::Failure>(&*record)) {
          failure = *f;
        } else if (state.status == 0) {
          write_record(state, *record, at);
        }
      }
    } catch (const std::runtime_error& garbled) {
      // Only a fault of the program itself gets here.
      throw Failure(
          kOtherTrap,
          describe_point(point) + ": the point's records are garbled: " + garbled.what());
    }
  }
}

// The rows of one record of a point that ended well. `at` is the point of
// its simulation's rows: the searched one at its last crossing.
void StudyRunner::write_record(PointState& state, const records::Record& record, Point& at) {
  const Point& point = *state.point;
  const std::int64_t last = last_report_time(point.p);
  if (const auto* m = std::get_if<records::ModelReport>(&record)) {
    write_row(state, model_row(point, m->t, m->tail));
  } else if (const auto* r = std::get_if<records::SimulationReport>(&record)) {
    // A crossing is confirmed at the final generation only.
    if (study_.find && r->t != last) return;
    const simulation::RunTotals totals = r->totals();
    if (study_.shards_runs()) {
      for (const TableRow& row : sum_rows(at, *simulation_, totals, 0, r->t)) {
        write_row(state, row);
      }
    } else {
      const simulation::Summary summary = simulation::summarize(totals, at.p.lambda);
      for (const TableRow& row : summary_rows(at, *simulation_, summary, 0, r->t)) {
        write_row(state, row);
      }
    }
  } else if (const auto* h = std::get_if<records::Hitting>(&record)) {
    write_row(state, model_values_row(Source::hitting, point, h->t, h->tail));
  } else if (const auto* c = std::get_if<records::Threshold>(&record)) {
    if (c->text.empty()) {
      write_row(state, model_values_row(Source::threshold, point, std::nullopt, {}));
      return;
    }
    at = point;
    set_parameter(at, *study_.find->parameter, c->value, c->text);
    write_row(state, model_values_row(Source::threshold, at, last, c->tail));
  } else if (const auto* g = std::get_if<records::ThresholdGrid>(&record)) {
    state.rows.grid_values = g->values;
    state.rows.grid_quantity = g->quantity;
  } else if (const auto* s = std::get_if<records::SimulationHitting>(&record)) {
    if (study_.shards_runs()) {
      for (const TableRow& row : simulation_hitting_count_rows(point, *simulation_, s->times)) {
        write_row(state, row);
      }
    } else {
      write_row(state, simulation_hitting_row(point, *simulation_,
                                              simulation::summarize_hitting(s->times)));
    }
  }
}

// A complete point of a resumed table: its rows as they were.
void StudyRunner::write_kept(PointState& state) {
  TableReader& old = *old_table_;
  old.seek(state.kept->from);
  TableRow row;
  while (old.row_end() < state.kept->to && old.next(row)) write_row(state, row);
}

void StudyRunner::write_point(PointState& state) {
  std::optional<records::Failure> failure;
  if (state.phase == PointState::Phase::kept) {
    write_kept(state);
  } else {
    write_records(state, failure);
    ::close(state.records_fd);
    state.records_fd = -1;
    if (state.status != 0) write_row(state, stopped_row(*state.point, state.status));
  }
  state.phase = PointState::Phase::written;
  conclude(state, failure);
}

// A written point's message, when it stopped, and its summary line.
void StudyRunner::conclude(PointState& state, const std::optional<records::Failure>& failure) {
  const Point& point = *state.point;
  const std::int32_t l = point.p.blocks;
  const int status = state.status;
  if (status != 0) {
    if (first_failure_ == 0) first_failure_ = status;
    progress_.clear();
    if (study_.is_sweep() || state.by_signal) {
      runtime::say(describe_point(point) + ": " + status_words(status, state.by_signal));
    } else if (failure) {
      // A single run's stop, said as the dialogue's process would say it.
      char words[160];
      runtime::write_standard_error(
          {words,
           runtime::format_stop_words(words, sizeof words, failure->number, failure->place)});
    }
  }
  const ParameterDescription* searched = study_.find ? study_.find->parameter : nullptr;
  if (status == 0 && state.rows.searched && state.rows.found.empty() && !study_.quiet) {
    const Condition& where = study_.find->condition;
    progress_.clear();
    runtime::say(describe_point(point, searched) + ": " + where.quantity.name() +
                 " does not cross " + where.value_text + " for " + std::string(searched->name) +
                 " in [" + study_.find_range.substr(0, study_.find_range.find(':')) + ", " +
                 study_.find_range.substr(study_.find_range.find(':') + 1) + "]");
  }
  if (!summaries_) return;
  std::string line = describe_point(point, searched);
  // A number, or "nan" where there is none (a half-width of one run).
  const auto number = [&line](double v) {
    if (v == v) {
      append_shortest(line, v);
    } else {
      line += "nan";
    }
  };
  // A 95 % half-width to two significant digits: more would claim a
  // precision the interval does not have (the CSV keeps every digit).
  const auto half_width = [&line](double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2g", v);
    line += v == v ? text : "nan";
  };
  if (status != 0) {
    line += " status=" + std::to_string(status);
  } else if (state.rows.searched) {
    const std::string name(searched->name);
    if (state.rows.found.empty()) line += " " + name + "=none";
    for (const PointRows::Found& found : state.rows.found) {
      line += " " + name + "=" + parameter_text(found.row.point, *searched);
      if (!found.simulated) continue;
      line += " simulated_" + study_.find->condition.quantity.name() + "=";
      number(*found.simulated);
      line += "+-";
      half_width(found.simulated_ci.value_or(std::nan("")));
    }
  } else if (state.rows.last_model) {
    const TableRow& last = *state.rows.last_model;
    line += " t=" + std::to_string(*last.t) + " mean_level=";
    append_shortest(line, last.values[0]);
    for (std::int32_t n = 0; n < 3 && n < l; ++n) {
      line += " X" + std::to_string(l - n) + "=";
      append_shortest(line, last.values[static_cast<std::size_t>(l - n)]);
    }
    if (state.rows.simulated_level) {
      line += " simulated_mean_level=";
      append_shortest(line, *state.rows.simulated_level);
      line += "+-";
      half_width(state.rows.simulated_level_ci.value_or(std::nan("")));
    }
    if (state.rows.hitting) {
      line +=
          " hitting_t=" + (*state.rows.hitting ? std::to_string(**state.rows.hitting) : "never");
    }
    if (state.rows.simulated_hitting) {
      // The mean over the runs that reached the value, and how many never did.
      const std::vector<double>& v = state.rows.simulated_hitting->values;
      line += " simulated_hitting_t=";
      number(v[0]);
      line += "+-";
      half_width(v[1]);
      line += " never=";
      number(v[5]);
    }
  }
  line += '\n';
  progress_.clear();
  write_line(runtime::console(), line);
}

// The first interrupt: every point that has ended is written, those still
// running are ended, and the study says which are missing before it ends by
// the interrupt's own signal.
void StudyRunner::interrupted(int signal) {
  runtime::end_child_processes();
  for (PointState& state : states_) {
    if (state.phase != PointState::Phase::running) continue;
    // Its process ends by the signal sent it, or has ended by itself.
    end_child(state);
    if (state.by_signal) state.phase = PointState::Phase::waiting;
  }
  progress_.clear();
  std::vector<std::size_t> missing;
  for (PointState& state : states_) {
    if (state.phase == PointState::Phase::ended || state.phase == PointState::Phase::kept) {
      write_point(state);
    } else if (state.phase != PointState::Phase::written) {
      missing.push_back(state.number);
      if (state.records_fd >= 0) ::close(state.records_fd);
      state.records_fd = -1;
    }
  }
  close_stream(runtime::table_file());
  files_.close_table();
  files_.replace_table();
  std::string which;
  for (std::size_t n = 0; n < missing.size() && n < 10; ++n) {
    which += (n == 0 ? "" : ", ") + std::to_string(missing[n]);
  }
  if (missing.size() > 10) which += ", ...";
  runtime::say(
      "interrupted: " + std::to_string(missing.size()) + " of " + std::to_string(states_.size()) +
      " points are incomplete" + (missing.empty() ? std::string() : " (" + which + ")") +
      (study_.csv.empty() || study_.csv == "-" ? std::string()
                                               : "; the same command with --resume continues"));
  runtime::end_by_signal(signal);
}

// How much of a point's work is done: its simulated runs once they have
// begun (they take longer than the model), else its generations.
double done_of(const PointState& s) {
  if (s.phase != PointState::Phase::running) {
    return s.phase == PointState::Phase::waiting ? 0.0 : 1.0;
  }
  if (s.runs_total > 0) {
    return static_cast<double>(s.runs_done) / static_cast<double>(s.runs_total);
  }
  const std::int64_t last = last_report_time(s.point->p);
  return static_cast<double>(s.t_reached) / static_cast<double>(last) * 0.999;
}

// "points 3/64, runs 2/6 of point 4" or, for one point, "t 120/2000" and
// "runs 2/6": the points done, and the simulation under way.
void StudyRunner::show_progress() {
  if (states_.empty()) return;
  std::size_t done = 0;
  double share = 0;
  const PointState* simulating = nullptr;
  for (const PointState& s : states_) {
    const double d = done_of(s);
    share += d;
    done += d == 1.0 ? 1 : 0;
    if (simulating == nullptr && s.phase == PointState::Phase::running && s.runs_total > 0) {
      simulating = &s;
    }
  }
  std::string what;
  if (study_.is_sweep() || states_.size() > 1) {
    what = "points " + std::to_string(done) + "/" + std::to_string(states_.size());
  } else if (!study_.find) {
    what = "t " + std::to_string(states_[0].t_reached) + "/" +
           std::to_string(last_report_time(states_[0].point->p));
  } else {
    what = "searching";
  }
  if (simulating != nullptr) {
    what += ", runs " + std::to_string(simulating->runs_done) + "/" +
            std::to_string(simulating->runs_total);
    if (states_.size() > 1) what += " of point " + std::to_string(simulating->number);
  }
  progress_.show(what, share / static_cast<double>(states_.size()));
}

void StudyRunner::draw_figure() {
  std::vector<PointFigure> points;
  for (const PointState& s : states_) points.push_back({s.point, &s.rows});
  const std::optional<PlotRequest> request = figure_request(study_, points);
  if (!request) return;
  try {
    draw_plot(gnuplot_, *request, files_.create_figure_draft());
    files_.place_figure();
  } catch (const Failure& failure) {
    // The exit status of a point that stopped comes first.
    if (first_failure_ == 0) throw;
    throw Failure(first_failure_, failure.message());
  }
}

int StudyRunner::run() {
  if (!study_.plot.empty()) {
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty()) {
      throw Failure(
          kOutputRefused,
          "--plot needs gnuplot, which is not installed (Debian: apt-get install gnuplot-nox)");
    }
  }
  simulation_ = simulation_columns(study_);
  // A sweep's shard runs every N-th point; a simulation's shard runs every
  // N-th run of every point.
  std::vector<std::size_t> mine;
  for (std::size_t i = 0; i < study_.points.size(); ++i) {
    const bool every_point = study_.shards_runs() || !study_.sharded;
    if (every_point ||
        static_cast<int>(i % static_cast<std::size_t>(study_.shard_count)) == study_.shard_index) {
      mine.push_back(i);
    }
  }
  files_.open(study_.resume);
  for (const std::size_t i : mine) {
    states_.emplace_back();
    states_.back().number = i + 1;
    states_.back().point = &study_.points[i];
  }
  if (files_.old_table_fd() >= 0) {
    for (const KeptPoint& kept : kept_points(study_, mine, study_.csv)) {
      states_[kept.place].kept = kept;
      states_[kept.place].phase = PointState::Phase::kept;
    }
    old_table_.emplace(study_.csv);
  }
  const std::size_t slash = study_.csv.rfind('/');
  records_directory_ = csv() && study_.csv != "-"
                           ? (slash == std::string::npos ? "." : study_.csv.substr(0, slash + 1))
                           : "";

  const bool csv_on_stdout = study_.csv == "-";
  // --quiet is for standard output: the progress line stays.
  progress_.enable(!study_.no_progress && ::isatty(STDERR_FILENO) == 1);
  // A search's or hitting time's answer is its summary line, even for a
  // single point.
  summaries_ = (study_.is_sweep() || study_.find || study_.hitting) && !study_.quiet &&
               !csv_on_stdout && !study_.sharded;
  every_report_ = csv() || !study_.plot.empty();
  if (summaries_) runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  try {
    if (csv()) {
      runtime::table_file().open(csv_on_stdout ? STDOUT_FILENO : files_.table_fd(),
                                 runtime::LineEnd::lf, false, kTableBufferSize);
      write_line(runtime::table_file(), table_.header());
    }
    shard_row(Source::shard);
    run_points();
    shard_row(Source::shard_end);
    close_stream(runtime::table_file());
    files_.close_table();
  } catch (...) {
    // Whatever ends the study ends its points too.
    runtime::end_child_processes();
    if (runtime::table_file().result() != 0 && files_.table_fd() >= 0) {
      files_.cut_table_to_whole_rows();
      const int number = runtime::table_file().result();
      throw Failure(number, "cannot write '" + study_.csv +
                                         "': " + std::string(stop_meaning(number)) + " (status " +
                                         std::to_string(number) +
                                         "); the table ends with its last whole row");
    }
    throw;
  }
  files_.replace_table();
  close_stream(runtime::console());
  if (!study_.plot.empty()) draw_figure();
  return first_failure_;
}

// A shard's first or last row.
void StudyRunner::shard_row(Source source) {
  if (!csv() || !study_.sharded) return;
  TableRow row;
  row.source = source;
  row.simulation = simulation_;
  row.shard = {study_.shard_index, study_.shard_count, study_fingerprint(study_)};
  if (source == Source::shard && study_.find) {
    const auto table = parameter_table();
    row.searched = static_cast<std::int32_t>(study_.find->parameter - table.data()) + 1;
  }
  row.rows = rows_written_;
  row.points = states_.size();
  text_.clear();
  table_.append(text_, row);
  write_line(runtime::table_file(), text_);
}

int StudyRunner::run_points() {
  const int wake = runtime::defer_interrupts();

  const std::size_t concurrency = std::min<std::size_t>(
      static_cast<std::size_t>(std::min(study_.jobs, runtime::kMaxChildProcesses)), states_.size());
  // Points ended but not yet written keep a file open each: how far ahead
  // of the first unwritten point new ones may start.
  const std::size_t look_ahead = std::max<std::size_t>(4 * concurrency, 32);
  std::size_t next_start = 0;
  std::size_t running = 0;
  while (next_write_ < states_.size()) {
    while (running < concurrency && next_start < states_.size() &&
           next_start < next_write_ + look_ahead) {
      PointState& state = states_[next_start++];
      if (state.phase != PointState::Phase::waiting) continue;
      start(state);
      ++running;
    }
    std::vector<pollfd> waiting{{wake, POLLIN, 0}};
    std::vector<PointState*> owners{nullptr};
    for (PointState& s : states_) {
      if (s.progress_fd >= 0) {
        waiting.push_back({s.progress_fd, POLLIN, 0});
        owners.push_back(&s);
      }
    }
    const bool idle = running == 0;
    const int ready =
        idle ? 0 : ::poll(waiting.data(), waiting.size(), progress_.enabled() ? 250 : -1);
    if (const int signal = runtime::pending_interrupt()) interrupted(signal);
    for (std::size_t n = 1; ready > 0 && n < waiting.size(); ++n) {
      if (waiting[n].revents == 0) continue;
      receive_progress(*owners[n]);
      if (owners[n]->phase == PointState::Phase::ended) --running;
    }
    while (next_write_ < states_.size() &&
           (states_[next_write_].phase == PointState::Phase::ended ||
            states_[next_write_].phase == PointState::Phase::kept)) {
      write_point(states_[next_write_++]);
    }
    show_progress();
  }
  progress_.clear();
  return first_failure_;
}

}  // namespace

int run_study(const Study& study) {
  StudyRunner runner(study);
  return runner.run();
}

}  // namespace blocklevels
