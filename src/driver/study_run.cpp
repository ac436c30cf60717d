#include "driver/study_run.hpp"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <limits>
#include <string_view>

#include "driver/csv_table.hpp"
#include "driver/plot.hpp"
#include "driver/point_process.hpp"
#include "driver/progress.hpp"
#include "driver/study_figure.hpp"
#include "driver/write_statement.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/stop_numbers.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kTableBufferSize = std::size_t{1} << 16;

void say(const std::string& message) {
  const std::string line = "blocklevels: " + message + "\n";
  if (::write(STDERR_FILENO, line.data(), line.size()) < 0) return;
}

// A file given for an output: refused when it exists (without --force),
// created (or truncated) otherwise.
struct OutputFile {
  const std::string* name;
  int fd = -1;
};

bool exists(const std::string& name) {
  struct stat info {};
  return ::lstat(name.c_str(), &info) == 0;
}

// The parameters of a point, as "lambda=10 mu=5 ...".
std::string describe(const StudyPoint& point) {
  std::string text;
  for (const std::string_view name : kParameterNames) {
    text += (text.empty() ? "" : " ") + std::string(name) + "=" + parameter_text(point, name);
  }
  return text;
}

std::string status_words(int status, bool by_signal) {
  if (by_signal) return "ended by signal " + std::to_string(status - 128);
  return "stopped: " + std::string(runtime::stop_meaning(status)) + " (status " +
         std::to_string(status) + ")";
}

double number(std::string_view field) {
  if (field.empty()) return std::numeric_limits<double>::quiet_NaN();
  double v = 0;
  std::from_chars(field.data(), field.data() + field.size(), v);
  return v;
}

struct PointState {
  const StudyPoint* point = nullptr;
  pid_t pid = -1;
  int fd = -1;
  bool finished = false;
  int status = 0;
  bool by_signal = false;
  std::string partial;  // bytes after the last complete row
  std::string held;     // complete rows waiting for earlier points
  std::string last_model_row;
  std::string last_simulation_row;
  std::string last_simulation_ci_row;
  std::int64_t latest_t = 0;
  std::string simulated;  // "simulated N/R" once runs are done
  PlotSeries series;
};

class StudyRunner {
 public:
  explicit StudyRunner(const Study& study) : study_(study) {}
  int run();

 private:
  int open_outputs();
  void start(PointState& state);
  void receive(PointState& state);
  void finish_child(PointState& state);
  void take_rows(PointState& state, std::string_view rows);
  void emit(PointState& state, std::string_view rows);
  void conclude(PointState& state);
  void show_progress();

  const Study& study_;
  std::vector<PointState> states_;
  std::size_t next_emit_ = 0;
  OutputFile report_{&study_.report_file};
  OutputFile csv_{&study_.csv};
  bool summaries_ = false;
  bool want_rows_ = false;
  bool all_rows_ = false;
  int first_failure_ = 0;
  std::string gnuplot_;
  Progress progress_;
};

int StudyRunner::open_outputs() {
  if (!study_.plot.empty()) {
    gnuplot_ = find_gnuplot();
    if (gnuplot_.empty()) {
      say("--plot needs gnuplot, which is not installed (Debian: apt-get install gnuplot-nox)");
      return 1;
    }
  }
  const std::string* names[] = {&study_.report_file, &study_.csv, &study_.plot};
  for (const std::string* name : names) {
    if (name->empty() || *name == "-" || study_.force || !exists(*name)) continue;
    say("'" + *name + "' exists; --force replaces it");
    return 1;
  }
  for (OutputFile* file : {&report_, &csv_}) {
    if (file->name->empty() || *file->name == "-") continue;
    const int mode = O_WRONLY | O_CREAT | O_CLOEXEC | (study_.force ? O_TRUNC : O_EXCL);
    file->fd = ::open(file->name->c_str(), mode, 0666);
    if (file->fd < 0) {
      const int error = errno;
      say("cannot create '" + *file->name + "': " + std::strerror(error));
      return runtime::os_error_number(error);
    }
  }
  return 0;
}

void StudyRunner::start(PointState& state) {
  int pipe_fds[2] = {-1, -1};
  if (want_rows_ && ::pipe2(pipe_fds, O_CLOEXEC) != 0) {
    runtime::stop_run(runtime::os_error_number(errno));
  }
  // What a child inherits of the parent's buffers must already be written.
  runtime::console().end_statement();
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    PointWork work;
    work.point = state.point;
    work.max_blocks = study_.max_blocks;
    work.rows_fd = pipe_fds[1];
    work.all_rows = all_rows_;
    work.model_rows = !(study_.simulate_runs > 0 && study_.shard_index != 0);
    work.console_lines = !study_.is_sweep() && !study_.quiet && study_.csv != "-";
    work.report_fd = report_.fd;
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
  if (want_rows_) {
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
  state.partial.append(chunk, static_cast<std::size_t>(n));
  const std::size_t end = state.partial.rfind('\n');
  if (end == std::string::npos) return;
  // Lines starting with "#" tell the simulation's progress; they are not rows.
  std::string_view rows = std::string_view(state.partial).substr(0, end + 1);
  std::string kept;
  if (rows.find('#') != std::string_view::npos) {
    for (std::size_t from = 0; from < rows.size();) {
      const std::size_t line_end = rows.find('\n', from) + 1;
      const std::string_view line = rows.substr(from, line_end - from);
      from = line_end;
      if (line.front() == '#') {
        state.simulated = std::string(line.substr(1, line.size() - 2));
      } else {
        kept += line;
      }
    }
    rows = kept;
  }
  take_rows(state, rows);
  state.partial.erase(0, end + 1);
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

// Complete rows of a point: emitted at once when every earlier point is
// done, held back otherwise, so that the table keeps the points' order.
void StudyRunner::take_rows(PointState& state, std::string_view rows) {
  if (&state == &states_[next_emit_]) {
    emit(state, rows);
  } else {
    state.held.append(rows);
  }
}

// The value fields a figure needs of a row: t, the mean level and the three
// highest levels' values.
void take_values(const std::vector<std::string_view>& fields, std::int32_t l, double& t,
                 double& mean_level, double (&top)[3]) {
  t = number(fields[7]);
  mean_level = number(fields[9]);
  for (std::int32_t n = 0; n < 3; ++n) {
    top[n] = n < l ? number(fields[9 + static_cast<std::size_t>(l - n)]) : 0.0;
  }
}

void StudyRunner::emit(PointState& state, std::string_view rows) {
  if (rows.empty()) return;
  if (csv_.fd >= 0 || study_.csv == "-") write_line(runtime::table_file(), rows);
  // Only a figure needs every row's values; the summary and the progress
  // need the last rows.
  const std::int32_t l = state.point->p.blocks;
  std::string_view last[3];  // model, simulation, simulation_ci95
  const std::string_view sources[3] = {"model,", "simulation,", "simulation_ci95,"};
  for (std::size_t from = 0; from < rows.size();) {
    const std::size_t end = rows.find('\n', from);
    const std::string_view row = rows.substr(from, end - from);
    from = end + 1;
    int kind = 0;
    while (kind < 3 && !row.starts_with(sources[kind])) ++kind;
    if (kind == 3) continue;
    last[kind] = row;
    if (study_.plot.empty()) continue;
    const std::vector<std::string_view> fields = csv_fields(row);
    if (fields.size() < 10 + static_cast<std::size_t>(l)) continue;
    PlotSeries& s = state.series;
    double t = 0, mean_level = 0, top[3] = {};
    take_values(fields, l, t, mean_level, top);
    if (kind == 0) {
      s.t.push_back(t);
      s.mean_level.push_back(mean_level);
      for (int n = 0; n < 3; ++n) s.top[n].push_back(top[n]);
    } else if (kind == 1) {
      s.simulated_t.push_back(t);
      s.simulated_mean_level.push_back(mean_level);
      for (int n = 0; n < 3; ++n) s.simulated_top[n].push_back(top[n]);
    } else {
      s.simulated_mean_level_ci.push_back(mean_level);
      for (int n = 0; n < 3; ++n) s.simulated_top_ci[n].push_back(top[n]);
    }
  }
  if (!last[0].empty()) {
    state.last_model_row = last[0];
    const std::vector<std::string_view> fields = csv_fields(last[0]);
    if (fields.size() > 7) state.latest_t = static_cast<std::int64_t>(number(fields[7]));
  }
  if (!last[1].empty()) state.last_simulation_row = last[1];
  if (!last[2].empty()) state.last_simulation_ci_row = last[2];
}

// A finished point whose earlier points are all done: its failure row and
// message, its summary line.
void StudyRunner::conclude(PointState& state) {
  const StudyPoint& point = *state.point;
  if (state.status != 0) {
    if (first_failure_ == 0) first_failure_ = state.status;
    std::string row;
    append_stopped_row(row, point, study_.max_blocks, state.status);
    if (csv_.fd >= 0 || study_.csv == "-") write_line(runtime::table_file(), row);
    // A single run's child has said in words what stopped it, unless a
    // signal ended it.
    if (study_.is_sweep() || state.by_signal) {
      progress_.clear();
      say(describe(point) + ": " + status_words(state.status, state.by_signal));
    }
  }
  if (summaries_) {
    std::string line = describe(point);
    const std::int32_t l = point.p.blocks;
    if (state.status != 0) {
      line += " status=" + std::to_string(state.status);
    } else {
      const std::vector<std::string_view> f = csv_fields(state.last_model_row);
      if (f.size() >= 10 + static_cast<std::size_t>(l)) {
        line += " t=" + std::string(f[7]) + " mean_level=" + std::string(f[9]);
        for (std::int32_t n = 0; n < 3 && n < l; ++n) {
          line += " X" + std::to_string(l - n) + "=" +
                  std::string(f[9 + static_cast<std::size_t>(l - n)]);
        }
      }
      const std::vector<std::string_view> sim = csv_fields(state.last_simulation_row);
      const std::vector<std::string_view> ci = csv_fields(state.last_simulation_ci_row);
      if (sim.size() >= 10 && ci.size() >= 10) {
        line += " simulated_mean_level=" + std::string(sim[9]) + "+-" + std::string(ci[9]);
      }
    }
    line += '\n';
    progress_.clear();
    write_line(runtime::console(), line);
  }
}

void StudyRunner::show_progress() {
  if (study_.is_sweep()) {
    std::size_t done = 0;
    for (const PointState& s : states_) done += s.finished ? 1 : 0;
    progress_.show("points " + std::to_string(done) + "/" + std::to_string(states_.size()));
  } else if (!states_.empty()) {
    const PointState& state = states_[0];
    const RunParameters& p = state.point->p;
    std::string what = "t " + std::to_string(state.latest_t) + "/" +
                       std::to_string(report_count(p) * p.step_generations);
    if (study_.simulate_runs > 0) {
      what += ", " + (state.simulated.empty() ? std::string("simulating") : state.simulated);
    }
    progress_.show(what);
  }
}

int StudyRunner::run() {
  const int refused = open_outputs();
  if (refused != 0) return refused;
  runtime::set_stop_style(runtime::StopStyle::words);
  const bool csv_on_stdout = study_.csv == "-";
  progress_.enable(!study_.quiet && ::isatty(STDERR_FILENO) == 1);
  summaries_ = study_.is_sweep() && !study_.quiet && !csv_on_stdout && !study_.sharded();
  all_rows_ = csv_.fd >= 0 || csv_on_stdout || !study_.plot.empty() ||
              (!study_.is_sweep() && progress_.enabled());
  want_rows_ = all_rows_ || summaries_;
  if (summaries_) runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  if (csv_.fd >= 0 || csv_on_stdout) {
    runtime::table_file().open(csv_on_stdout ? STDOUT_FILENO : csv_.fd, runtime::LineEnd::lf,
                               !csv_on_stdout, kTableBufferSize);
    write_line(runtime::table_file(), csv_header(study_.max_blocks));
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
    // Children that send no rows are waited for in turn.
    if (!want_rows_) {
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
      if (next_emit_ < states_.size()) {
        PointState& next = states_[next_emit_];
        emit(next, next.held);
        next.held.clear();
        next.held.shrink_to_fit();
      }
    }
    show_progress();
  }
  progress_.clear();

  close_stream(runtime::table_file());
  close_stream(runtime::console());
  if (report_.fd >= 0) ::close(report_.fd);

  if (!study_.plot.empty()) {
    std::vector<PointSeries> drawn;
    for (PointState& s : states_) {
      if (s.series.t.empty() && s.series.simulated_t.empty()) continue;
      drawn.push_back({s.point, std::move(s.series)});
    }
    const PlotRequest request = study_figure(study_, std::move(drawn));
    if (!request.series.empty()) {
      const std::string failure = draw_plot(gnuplot_, request);
      if (!failure.empty()) {
        say("--plot: " + failure);
        if (first_failure_ == 0) return 1;
      }
    }
  }
  return first_failure_;
}

}  // namespace

int run_study(const Study& study) {
  StudyRunner runner(study);
  return runner.run();
}

}  // namespace blocklevels
