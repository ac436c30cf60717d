#include "study/study_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <string_view>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "output/csv_table.hpp"
#include "output/plot.hpp"
#include "output/progress.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/failure.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/stop_report.hpp"
#include "study/point_process.hpp"
#include "study/point_records.hpp"
#include "study/study_figure.hpp"
#include "text/double_text.hpp"

namespace blocklevels {
namespace {

bool exists(const std::string& name) {
  struct stat info {};
  return ::lstat(name.c_str(), &info) == 0;
}

std::string status_words(int status, bool by_signal) {
  if (by_signal) return "ended by signal " + std::to_string(status - 128);
  return "stopped: " + std::string(stop_meaning(status)) + " (status " + std::to_string(status) +
         ")";
}

// What the study knows of one point.
struct PointState {
  const Point* point = nullptr;
  pid_t pid = -1;
  int fd = -1;  // the records' pipe, while open
  bool finished = false;
  int status = 0;
  bool by_signal = false;
  records::Reader reader;  // records as they arrive, handled in point order
  std::optional<records::Failure> failure;
  // The last model report and the last simulated summary, for the summary
  // line and the progress.
  std::int64_t last_t = 0;
  std::vector<double> last_tail;
  bool has_model = false;
  simulation::Estimate last_simulated_level{};
  bool has_simulation = false;
  std::string simulated;  // "simulated N/R" while runs go on
  PlotSeries series;
};

class StudyRunner {
 public:
  explicit StudyRunner(const Study& study) : study_(study), table_(study.max_blocks) {}
  int run();

 private:
  void open_outputs();
  void start(PointState& state);
  void receive(PointState& state);
  void finish_child(PointState& state);
  void handle_records(PointState& state);
  void take(PointState& state, const records::ModelReport& r);
  void take(PointState& state, const records::SimulationReport& r);
  void take(PointState& state, const records::Progress& r);
  void take(PointState& state, const records::Failure& r);
  void conclude(PointState& state);
  void show_progress();
  void draw_figure();
  bool csv() const { return csv_fd_ >= 0 || study_.csv == "-"; }

  const Study& study_;
  CsvTable table_;
  std::vector<PointState> states_;
  std::size_t next_emit_ = 0;
  int report_fd_ = -1;
  int csv_fd_ = -1;
  bool summaries_ = false;
  bool want_records_ = false;
  bool every_report_ = false;
  int first_failure_ = 0;
  std::string gnuplot_;
  Progress progress_;
  std::string row_;
};

void StudyRunner::open_outputs() {
  if (!study_.plot.empty()) {
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty()) {
      throw runtime::Failure(
          runtime::kOutputRefused,
          "--plot needs gnuplot, which is not installed (Debian: apt-get install gnuplot-nox)");
    }
  }
  for (const std::string* name : {&study_.report_file, &study_.csv, &study_.plot}) {
    if (name->empty() || *name == "-" || study_.force || !exists(*name)) continue;
    throw runtime::Failure(runtime::kOutputRefused, "'" + *name + "' exists; --force replaces it");
  }
  for (const auto& [name, fd] :
       {std::pair{&study_.report_file, &report_fd_}, {&study_.csv, &csv_fd_}}) {
    if (name->empty() || *name == "-") continue;
    const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (study_.force ? O_TRUNC : O_EXCL);
    *fd = ::open(name->c_str(), mode, 0666);
    if (*fd < 0) {
      const int error = errno;
      throw runtime::Failure(runtime::os_error_number(error),
                             "cannot create '" + *name + "': " + std::strerror(error));
    }
  }
}

void StudyRunner::start(PointState& state) {
  int pipe_fds[2] = {-1, -1};
  if (want_records_ && ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    throw_stop(runtime::os_error_number(errno));
  }
  // What a child inherits of the parent's buffers must already be written.
  runtime::console().flush();
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    PointWork work;
    work.point = state.point;
    work.records_fd = pipe_fds[1];
    work.every_report = every_report_;
    work.model_reports = !(study_.simulate_runs > 0 && study_.shard_index != 0);
    work.console_lines = !study_.is_sweep() && !study_.quiet && study_.csv != "-";
    work.report_fd = report_fd_;
    work.stop_style = study_.is_sweep() ? runtime::StopStyle::silent : runtime::StopStyle::words;
    work.simulate_runs = study_.simulate_runs;
    work.seed = study_.seed;
    if (study_.simulate_runs > 0) {
      work.shard_index = study_.shard_index;
      work.shard_count = study_.shard_count;
    }
    const std::size_t running =
        std::min<std::size_t>(static_cast<std::size_t>(study_.jobs), states_.size());
    work.threads = std::max(1, study_.jobs / static_cast<int>(running));
    if (pipe_fds[0] >= 0) ::close(pipe_fds[0]);
    run_point(work);
  }
  state.pid = pid;
  if (want_records_) {
    ::close(pipe_fds[1]);
    state.fd = pipe_fds[0];
  }
}

void StudyRunner::receive(PointState& state) {
  char chunk[1 << 16];
  const ssize_t n = ::read(state.fd, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return;
  if (n <= 0) {
    ::close(state.fd);
    state.fd = -1;
    finish_child(state);
    return;
  }
  state.reader.feed({chunk, static_cast<std::size_t>(n)});
  if (&state == &states_[next_emit_]) handle_records(state);
}

void StudyRunner::finish_child(PointState& state) {
  int status = 0;
  while (::waitpid(state.pid, &status, 0) < 0 && errno == EINTR) {
  }
  runtime::remove_child_process(state.pid);
  state.finished = true;
  if (WIFEXITED(status)) {
    state.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    state.status = 128 + WTERMSIG(status);
    state.by_signal = true;
  }
}

// Every whole record the point has sent, in the order sent; called only for
// the point whose turn it is, so that the table keeps the points' order.
void StudyRunner::handle_records(PointState& state) {
  try {
    while (std::optional<records::Record> record = state.reader.next()) {
      std::visit([&](const auto& r) { take(state, r); }, *record);
    }
  } catch (const std::runtime_error& garbled) {
    // Only a fault of the program itself gets here.
    throw runtime::Failure(kOtherTrap, describe_point(*state.point) +
                                           ": the point's records are garbled: " + garbled.what());
  }
}

void StudyRunner::take(PointState& state, const records::ModelReport& r) {
  if (csv()) {
    row_.clear();
    table_.model_row(row_, *state.point, r.t, r.tail);
    write_line(runtime::table_file(), row_);
  }
  if (!study_.plot.empty()) {
    PlotSeries& s = state.series;
    const std::size_t l = r.tail.size();
    s.t.push_back(static_cast<double>(r.t));
    s.mean_level.push_back(sum_in_level_order(r.tail));
    for (std::size_t n = 0; n < 3; ++n) s.top[n].push_back(n < l ? r.tail[l - 1 - n] : 0.0);
  }
  state.last_t = r.t;
  state.last_tail = r.tail;
  state.has_model = true;
}

void StudyRunner::take(PointState& state, const records::SimulationReport& r) {
  const simulation::RunTotals totals = r.totals();
  if (study_.sharded()) {
    if (csv()) {
      row_.clear();
      table_.sum_rows(row_, *state.point, totals, 0, r.t);
      write_line(runtime::table_file(), row_);
    }
    return;
  }
  const simulation::Summary summary = simulation::summarize(totals, state.point->p.lambda);
  if (csv()) {
    row_.clear();
    table_.summary_rows(row_, *state.point, summary, 0, r.t);
    write_line(runtime::table_file(), row_);
  }
  if (!study_.plot.empty()) {
    PlotSeries& s = state.series;
    const std::int32_t l = state.point->p.blocks;
    s.simulated_t.push_back(static_cast<double>(r.t));
    for (std::int32_t n = 0; n < 3; ++n) {
      const simulation::Estimate e =
          n < l ? summary.fraction_at(0, l - n) : simulation::Estimate{0.0, 0.0};
      s.simulated_top[n].push_back(e.mean);
      s.simulated_top_ci[n].push_back(e.half_width);
    }
    s.simulated_mean_level.push_back(summary.mean_level[0].mean);
    s.simulated_mean_level_ci.push_back(summary.mean_level[0].half_width);
  }
  state.last_simulated_level = summary.mean_level[0];
  state.has_simulation = true;
}

void StudyRunner::take(PointState& state, const records::Progress& r) {
  state.simulated = "simulated " + std::to_string(r.runs_done) + "/" + std::to_string(r.runs_total);
}

void StudyRunner::take(PointState& state, const records::Failure& r) {
  state.failure = r;
}

// A finished point whose earlier points are all done: its failure row and
// message, its summary line.
void StudyRunner::conclude(PointState& state) {
  handle_records(state);
  const Point& point = *state.point;
  if (state.status != 0) {
    if (first_failure_ == 0) first_failure_ = state.status;
    if (csv()) {
      row_.clear();
      table_.stopped_row(row_, point, state.status);
      write_line(runtime::table_file(), row_);
    }
    progress_.clear();
    if (study_.is_sweep() || state.by_signal) {
      runtime::say(describe_point(point) + ": " + status_words(state.status, state.by_signal));
    } else if (state.failure) {
      // A single run's stop, said as the dialogue's process would say it.
      char words[160];
      runtime::write_standard_error(
          {words, runtime::format_stop_words(words, sizeof words, state.failure->number,
                                             state.failure->place)});
    }
  }
  if (!summaries_) return;
  std::string line = describe_point(point);
  const std::int32_t l = point.p.blocks;
  if (state.status != 0) {
    line += " status=" + std::to_string(state.status);
  } else if (state.has_model) {
    line += " t=" + std::to_string(state.last_t) + " mean_level=";
    append_shortest(line, sum_in_level_order(state.last_tail));
    for (std::int32_t n = 0; n < 3 && n < l; ++n) {
      line += " X" + std::to_string(l - n) + "=";
      append_shortest(line, state.last_tail[static_cast<std::size_t>(l - 1 - n)]);
    }
    if (state.has_simulation) {
      line += " simulated_mean_level=";
      append_shortest(line, state.last_simulated_level.mean);
      line += "+-";
      append_shortest(line, state.last_simulated_level.half_width);
    }
  }
  line += '\n';
  progress_.clear();
  write_line(runtime::console(), line);
}

void StudyRunner::show_progress() {
  if (study_.is_sweep()) {
    std::size_t done = 0;
    for (const PointState& s : states_) done += s.finished ? 1 : 0;
    progress_.show("points " + std::to_string(done) + "/" + std::to_string(states_.size()));
  } else if (!states_.empty()) {
    const PointState& state = states_[0];
    std::string what = "t " + std::to_string(state.last_t) + "/" +
                       std::to_string(last_report_time(state.point->p));
    if (study_.simulate_runs > 0) {
      what += ", " + (state.simulated.empty() ? std::string("simulating") : state.simulated);
    }
    progress_.show(what);
  }
}

void StudyRunner::draw_figure() {
  std::vector<PointSeries> drawn;
  for (PointState& s : states_) {
    if (s.series.t.empty() && s.series.simulated_t.empty()) continue;
    drawn.push_back({s.point, std::move(s.series)});
  }
  const PlotRequest request = study_figure(study_, std::move(drawn));
  if (request.series.empty()) return;
  try {
    draw_plot(gnuplot_, request);
  } catch (const runtime::Failure& failure) {
    // The exit status of a point that stopped comes first.
    if (first_failure_ == 0) throw;
    throw runtime::Failure(first_failure_, failure.message());
  }
}

int StudyRunner::run() {
  open_outputs();
  const bool csv_on_stdout = study_.csv == "-";
  progress_.enable(!study_.quiet && ::isatty(STDERR_FILENO) == 1);
  summaries_ = study_.is_sweep() && !study_.quiet && !csv_on_stdout && !study_.sharded();
  every_report_ = csv() || !study_.plot.empty() || (!study_.is_sweep() && progress_.enabled());
  want_records_ = every_report_ || summaries_;
  if (summaries_) runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  if (csv()) {
    runtime::table_file().open(csv_on_stdout ? STDOUT_FILENO : csv_fd_, runtime::LineEnd::lf,
                               !csv_on_stdout, kTableBufferSize);
    write_line(runtime::table_file(), table_.header());
  }

  // A sweep's shard runs every N-th point; a simulation's shard runs every
  // N-th run of every point.
  for (std::size_t i = 0; i < study_.points.size(); ++i) {
    const bool mine =
        study_.simulate_runs > 0 ||
        static_cast<int>(i % static_cast<std::size_t>(study_.shard_count)) == study_.shard_index;
    if (!mine) continue;
    states_.emplace_back();
    states_.back().point = &study_.points[i];
  }
  const std::size_t concurrency = std::min<std::size_t>(
      static_cast<std::size_t>(std::min(study_.jobs, runtime::kMaxChildProcesses)), states_.size());
  std::size_t next_start = 0;
  std::size_t running = 0;
  while (next_emit_ < states_.size()) {
    while (running < concurrency && next_start < states_.size()) {
      start(states_[next_start++]);
      ++running;
    }
    if (!want_records_) {
      // Children that send nothing are waited for in turn.
      for (PointState& s : states_) {
        if (s.pid > 0 && !s.finished) {
          finish_child(s);
          --running;
          break;
        }
      }
    } else {
      std::vector<pollfd> waiting;
      std::vector<PointState*> owners;
      for (PointState& s : states_) {
        if (s.fd >= 0) {
          waiting.push_back({s.fd, POLLIN, 0});
          owners.push_back(&s);
        }
      }
      const int ready = ::poll(waiting.data(), waiting.size(), progress_.enabled() ? 200 : -1);
      for (std::size_t n = 0; ready > 0 && n < waiting.size(); ++n) {
        if (waiting[n].revents == 0) continue;
        receive(*owners[n]);
        if (owners[n]->finished) --running;
      }
    }
    while (next_emit_ < states_.size() && states_[next_emit_].finished) {
      conclude(states_[next_emit_]);
      ++next_emit_;
      if (next_emit_ < states_.size()) handle_records(states_[next_emit_]);
    }
    show_progress();
  }
  progress_.clear();

  close_stream(runtime::table_file());
  close_stream(runtime::console());
  if (report_fd_ >= 0) ::close(report_fd_);
  if (!study_.plot.empty()) draw_figure();
  return first_failure_;
}

}  // namespace

int run_study(const Study& study) {
  StudyRunner runner(study);
  return runner.run();
}

}  // namespace blocklevels
