#include "runs/point_process.hpp"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <new>
#include <string>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/model_run.hpp"
#include "output/report_text.hpp"
#include "output/write_statement.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/code_place.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "simulation/simulation_runs.hpp"
#include "runs/point_records.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kRecordBufferSize = std::size_t{1} << 16;

// Progress records, at most a few a second, straight into the pipe: each
// is small enough (below PIPE_BUF) to arrive whole.
class ProgressPipe {
 public:
  explicit ProgressPipe(int fd) : fd_(fd) {}
  void tell(const records::Progress& progress, bool now) {
    if (fd_ < 0) return;
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - last_ < std::chrono::milliseconds(200)) return;
    last_ = time;
    std::string bytes;
    records::append(bytes, progress);
    // A study that has stopped reading has ended us or will: nothing to do.
    if (::write(fd_, bytes.data(), bytes.size()) < 0) return;
  }

 private:
  int fd_;
  std::chrono::steady_clock::time_point last_{};
};

// Hands each report to the console and report file lines and to the
// records; any of them may be absent.
class PointSinks final : public ModelSink {
 public:
  PointSinks(ReportLines* lines, runtime::OutputStream* records, bool every_report,
             std::int64_t last_t, ProgressPipe& progress)
      : lines_(lines),
        records_(records),
        every_report_(every_report),
        last_t_(last_t),
        progress_(progress) {}
  void start(std::int64_t first_report) override {
    if (lines_ != nullptr) lines_->start(first_report);
  }
  void report(std::int64_t t, std::span<const double> tail) override {
    if (lines_ != nullptr) lines_->report(t, tail);
    progress_.tell({t, 0, 0}, false);
    if (records_ == nullptr || (!every_report_ && t != last_t_)) return;
    bytes_.clear();
    records::append(bytes_, records::ModelReport{t, {tail.begin(), tail.end()}});
    write_line(*records_, bytes_);
  }
  // With a hitting time asked for: every generation until the quantity
  // reaches the value.
  void watch(const Condition* hitting) { hitting_ = hitting; }
  bool watches_every_generation() const override { return hitting_ != nullptr; }
  bool generation(std::int64_t t, std::span<const double> tail) override {
    if (!hitting_->reached(hitting_->quantity.of(tail))) return true;
    hit_ = records::Hitting{t, {tail.begin(), tail.end()}};
    return false;
  }
  // The hitting record: the time and tail, or t 0 for none.
  const records::Hitting& hit() const { return hit_; }

 private:
  ReportLines* lines_;
  runtime::OutputStream* records_;
  bool every_report_;
  std::int64_t last_t_;
  ProgressPipe& progress_;
  std::string bytes_;
  const Condition* hitting_ = nullptr;
  records::Hitting hit_;
};

void put_record(runtime::OutputStream* records, const auto& record) {
  if (records == nullptr) return;
  std::string bytes;
  records::append(bytes, record);
  write_line(*records, bytes);
}

// One console line after the model's: the simulation's means at the last
// report time, each with the half-width of its 95 % confidence interval.
void write_simulation_line(runtime::OutputStream& console, const PointParameters& p,
                           const simulation::Summary& summary, std::int64_t report,
                           std::int64_t t) {
  const std::int32_t l = p.blocks;
  std::string line = "simulated, " + std::to_string(summary.runs) +
                     (summary.runs == 1 ? " run" : " runs") + ", t=" + std::to_string(t) +
                     ": mean level ";
  // Six digits for a mean and two for its half-width; no interval for one run.
  auto estimate = [&](const simulation::Estimate& e) {
    char text[64];
    if (e.half_width == e.half_width) {
      std::snprintf(text, sizeof text, "%.6g +- %.2g", e.mean, e.half_width);
    } else {
      std::snprintf(text, sizeof text, "%.6g", e.mean);
    }
    line += text;
  };
  estimate(summary.mean_level[static_cast<std::size_t>(report)]);
  for (std::int32_t n = 0; n < 3 && n < l; ++n) {
    line += n == 0 ? "; at or above level " : ", level ";
    line += std::to_string(l - n) + ": ";
    estimate(summary.fraction_at(report, l - n));
  }
  line += console.line_end();
  write_line(console, line);
}

// The point's simulated runs (this shard's), in batches of one run per
// thread, each batch followed by a progress record; then a record of every
// report time's sums.
void simulate(const PointWork& work, const PointParameters& p, runtime::OutputStream* records,
              runtime::OutputStream* console, ProgressPipe& progress) {
  const auto first = static_cast<std::uint64_t>(work.shard_index);
  const auto stride = static_cast<std::uint64_t>(work.shard_count);
  const auto total = static_cast<std::uint64_t>(work.simulate_runs);
  const std::uint64_t mine = simulation::RunSet{total, first, stride}.size();
  const auto batch = static_cast<std::uint64_t>(work.threads);
  simulation::RunTotals totals = simulation::empty_totals(p);
  std::string bytes;
  for (std::uint64_t done = 0; done < mine;) {
    const std::uint64_t next = std::min(mine, done + batch);
    // Runs first + i stride for done <= i < next.
    const simulation::RunSet runs{first + next * stride - (stride - 1), first + done * stride,
                                  stride};
    totals.add(simulation::simulate_runs(p, work.seed, runs, static_cast<unsigned>(work.threads),
                                         work.hitting));
    done = next;
    progress.tell({last_report_time(p), done, mine}, true);
  }
  if (console != nullptr && !work.sharded) {
    write_simulation_line(*console, p, simulation::summarize(totals, p.lambda),
                          totals.reports() - 1, last_report_time(p));
  }
  if (records == nullptr) return;
  for (std::int64_t report = 0; report < totals.reports(); ++report) {
    bytes.clear();
    records::append(bytes, records::simulation_report(totals, report, report_time(p, report)));
    write_line(*records, bytes);
  }
  if (work.hitting != nullptr) put_record(records, records::SimulationHitting{totals.hitting()});
}

// --find: the search's grid, then each crossing with its simulated runs
// (all of them: a search's study divides its points, not their runs), or
// a threshold record without text when there is none.
void search(const PointWork& work, runtime::OutputStream* records, ProgressPipe& progress) {
  progress.tell({0, 0, 0}, true);
  const ThresholdResult result = find_thresholds(*work.point, *work.find);
  put_record(records, records::ThresholdGrid{result.grid_values, result.grid_quantity});
  if (result.crossings.empty()) put_record(records, records::Threshold{});
  for (const Crossing& crossing : result.crossings) {
    const ParameterDescription& d = *work.find->parameter;
    put_record(records, records::Threshold{parameter_value(crossing.point.p, d),
                                           parameter_text(crossing.point, d), crossing.tail});
    if (work.simulate_runs > 0) simulate(work, crossing.point.p, records, nullptr, progress);
  }
}

void run(const PointWork& work) {
  const PointParameters& p = work.point->p;
  runtime::OutputStream* console = nullptr;
  runtime::OutputStream* file = nullptr;
  runtime::OutputStream* records = nullptr;
  // The records first: a failure of any other output is told there.
  if (work.records_fd >= 0) {
    records = &runtime::records();
    records->open(work.records_fd, runtime::LineEnd::lf, true, kRecordBufferSize);
  }
  if (work.console_lines) {
    console = &runtime::console();
    console->open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  }
  if (work.report_fd >= 0) {
    // Standard output as a stream of its own, as the dialogue's empty file
    // name makes it, or the report file.
    file = &runtime::report_file();
    file->open(work.report_fd, runtime::LineEnd::crlf, work.report_fd != STDOUT_FILENO);
    write_report_header(*file, p);
  }
  ProgressPipe progress(work.progress_fd);
  ReportLines lines(console, file, p.blocks);
  const bool with_lines = console != nullptr || file != nullptr;
  if (work.find != nullptr) {
    search(work, records, progress);
  } else {
    PointSinks sinks(with_lines ? &lines : nullptr, work.model_reports ? records : nullptr,
                     work.every_report, last_report_time(p), progress);
    sinks.watch(work.hitting);
    run_model(p, sinks);
    if (work.hitting != nullptr && work.model_reports) put_record(records, sinks.hit());
    // Simulated runs whose results would go nowhere are not run.
    if (work.simulate_runs > 0 && (console != nullptr || records != nullptr)) {
      simulate(work, p, records, console, progress);
    }
  }
  close_stream(runtime::report_file());
  close_stream(runtime::records());
  close_stream(runtime::console());
}

}  // namespace

void run_point(const PointWork& work) {
  runtime::set_stop_style(work.stop_style);
  int status = 0;
  std::uintptr_t place = 0;
  try {
    run(work);
  } catch (const Stop& stop) {
    status = stop.number();
    place = stop.place();
  } catch (const std::bad_alloc&) {
    status = kOutOfMemory;
  }
  if (status != 0) {
    // What the point wrote stays written, then the study learns why it
    // stopped.
    runtime::OutputStream& records = runtime::records();
    if (records.is_open() && records.result() == 0) {
      std::string bytes;
      records::append(bytes, records::Failure{status, runtime::code_offset(place)});
      records.put(bytes);
    } else if (work.stop_style == runtime::StopStyle::words) {
      // No record reaches the study: say it here, as the study would.
      char words[160];
      runtime::write_standard_error(
          {words,
           runtime::format_stop_words(words, sizeof words, status, runtime::code_offset(place))});
    }
    runtime::flush_run_streams();
  }
  ::_exit(status);
}

}  // namespace blocklevels
