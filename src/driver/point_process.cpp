#include "driver/point_process.hpp"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "driver/csv_table.hpp"
#include "driver/report_text.hpp"
#include "driver/simulation_rows.hpp"
#include "driver/write_statement.hpp"
#include "model/model_run.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/run_streams.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kRowBufferSize = std::size_t{1} << 16;

// Hands each report to two sinks, either of which may be absent.
class BothSinks final : public ModelSink {
 public:
  BothSinks(ModelSink* first, ModelSink* second) : first_(first), second_(second) {}
  void start(std::int64_t first_report) override {
    if (first_ != nullptr) first_->start(first_report);
    if (second_ != nullptr) second_->start(first_report);
  }
  void report(std::int64_t t, std::span<const double> tail) override {
    if (first_ != nullptr) first_->report(t, tail);
    if (second_ != nullptr) second_->report(t, tail);
  }

 private:
  ModelSink* first_;
  ModelSink* second_;
};

// The point's simulated runs (this shard's), in batches of one run per
// thread, each batch followed by a progress line for the parent ("#", never
// part of the table), then the rows of every report time.
// One console line after the model's: the simulation's means at the last
// report time, each with the half-width of its 95 % confidence interval.
void write_simulation_line(runtime::OutputStream& console, const StudyPoint& point,
                           const simulation::Summary& summary, std::int64_t report,
                           std::int64_t t) {
  const std::int32_t l = point.p.blocks;
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

void simulate(const PointWork& work, runtime::OutputStream& rows, runtime::OutputStream* console) {
  const RunParameters& p = work.point->p;
  const simulation::SimulationParams params{p.lambda,
                                            p.mu,
                                            p.Pmut,
                                            p.block_length,
                                            p.two_option_positions,
                                            p.blocks,
                                            p.final_iteration,
                                            p.step_generations};
  const auto first = static_cast<std::uint64_t>(work.shard_index);
  const auto stride = static_cast<std::uint64_t>(work.shard_count);
  const auto total = static_cast<std::uint64_t>(work.simulate_runs);
  const std::uint64_t mine = simulation::RunSet{total, first, stride}.size();
  const auto batch = static_cast<std::uint64_t>(work.threads);
  simulation::RunTotals totals = simulation::empty_totals(params);
  for (std::uint64_t done = 0; done < mine;) {
    const std::uint64_t next = std::min(mine, done + batch);
    // Runs first + i stride for done <= i < next.
    const simulation::RunSet runs{first + next * stride - (stride - 1), first + done * stride,
                                  stride};
    totals.add(
        simulation::simulate_runs(params, work.seed, runs, static_cast<unsigned>(work.threads)));
    done = next;
    if (rows.is_open()) {
      write_line(rows, "#simulated " + std::to_string(done) + "/" + std::to_string(mine) + "\n");
    }
  }
  const bool partial = work.shard_count > 1;
  const simulation::Summary summary =
      partial ? simulation::Summary{} : simulation::summarize(totals, p.lambda);
  if (console != nullptr && !partial) {
    write_simulation_line(*console, *work.point, summary, totals.reports() - 1,
                          totals.reports() * p.step_generations);
  }
  if (!rows.is_open()) return;
  std::string text;
  for (std::int64_t report = 0; report < totals.reports(); ++report) {
    const std::int64_t t = (report + 1) * p.step_generations;
    text.clear();
    if (partial) {
      append_partial_rows(text, *work.point, work.max_blocks, totals, report, t);
    } else {
      append_summary_rows(text, *work.point, work.max_blocks, summary, report, t);
    }
    write_line(rows, text);
  }
}

}  // namespace

void run_point(const PointWork& work) {
  runtime::set_stop_style(work.stop_style);
  const RunParameters& p = work.point->p;
  runtime::OutputStream* console = nullptr;
  runtime::OutputStream* file = nullptr;
  if (work.console_lines) {
    console = &runtime::console();
    console->open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  }
  if (work.report_fd >= 0) {
    file = &runtime::report_file();
    file->open(work.report_fd, runtime::LineEnd::crlf, true);
    write_report_header(*file, p);
  }
  runtime::OutputStream& rows = runtime::table_file();
  if (work.rows_fd >= 0) rows.open(work.rows_fd, runtime::LineEnd::lf, true, kRowBufferSize);

  ReportLines lines(console, file, p.blocks);
  ModelRows model_rows(rows, *work.point, work.max_blocks, !work.all_rows);
  const bool with_lines = console != nullptr || file != nullptr;
  const bool with_rows = work.rows_fd >= 0 && work.model_rows;
  BothSinks sinks(with_lines ? &lines : nullptr, with_rows ? &model_rows : nullptr);
  run_model(p, sinks);
  // Simulated runs whose results would go nowhere are not run.
  if (work.simulate_runs > 0 && (console != nullptr || rows.is_open())) {
    simulate(work, rows, console);
  }

  close_stream(runtime::report_file());
  close_stream(rows);
  close_stream(runtime::console());
  ::_exit(0);
}

}  // namespace blocklevels
