#include "driver/point_process.hpp"

#include <unistd.h>

#include "driver/csv_table.hpp"
#include "driver/report_text.hpp"
#include "model/model_run.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/run_streams.hpp"

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

// Closes a stream and stops the run when that fails, so that a point never
// ends with 0 after a lost write.
void close_or_stop(runtime::OutputStream& stream) {
  if (!stream.is_open()) return;
  stream.close();
  if (stream.result() != 0) runtime::stop_run(stream.result());
}

}  // namespace

void run_point(const PointWork& work) {
  runtime::forget_child_processes();
  runtime::detach_run_streams();
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

  close_or_stop(runtime::report_file());
  close_or_stop(rows);
  close_or_stop(runtime::console());
  ::_exit(0);
}

}  // namespace blocklevels
