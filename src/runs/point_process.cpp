#include "runs/point_process.hpp"

#include <unistd.h>

#include <cstdio>
#include <string>

#include "arithmetic/out_of_memory.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "output/report_text.hpp"
#include "output/write_statement.hpp"
#include "runs/point_records.hpp"
#include "runs/throttled_progress.hpp"
#include "runtime/code_place.hpp"
#include "runtime/memory_room.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "study/study_memory.hpp"

namespace blocklevels {
namespace {

constexpr std::size_t kRecordBufferSize = std::size_t{1} << 16;

// Progress records, at most a few a second, straight into the pipe: each
// is small enough (below PIPE_BUF) to arrive whole.
class ProgressPipe final : public ThrottledProgress {
 public:
  explicit ProgressPipe(int fd) : fd_(fd) {}

 private:
  void send(std::int64_t t, std::uint64_t done, std::uint64_t total) override {
    if (fd_ < 0) return;
    std::string bytes;
    records::append(bytes, records::Progress{t, done, total});
    // A study that has stopped reading has ended us or will: nothing to do.
    if (::write(fd_, bytes.data(), bytes.size()) < 0) return;
  }

  int fd_;
};

// One console line after the model's: the simulation's means at the last
// report time, each with the half-width of its 95 % confidence interval.
void write_simulation_line(runtime::OutputStream& console, const PointParameters& p,
                           std::int32_t runs, const SimulationReport& r) {
  const std::int32_t l = p.blocks;
  std::string line = "simulated, " + std::to_string(runs) + (runs == 1 ? " run" : " runs") +
                     ", t=" + std::to_string(r.t) + ": mean level ";
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
  estimate(r.level);
  for (std::int32_t n = 0; n < 3 && n < l; ++n) {
    line += n == 0 ? "; at or above level " : ", level ";
    line += std::to_string(l - n) + ": ";
    estimate(r.fractions[static_cast<std::size_t>(l - n - 1)]);
  }
  line += console.line_end();
  write_line(console, line);
}

// Every result into the records file, the point's own first and again
// whenever results of another point (a search's crossing) follow; the
// simulated console line of a single run.
class RecordSink final : public ResultSink {
 public:
  RecordSink(runtime::OutputStream* records, runtime::OutputStream* console, const Point& point,
             const PointWork& work)
      : records_(records), console_(console), point_(point), work_(work) {}

  void take(const Result& result) override {
    const auto* simulated = std::get_if<SimulationReport>(&result.value);
    if (console_ != nullptr && simulated != nullptr && simulated->t == last_report_time(point_.p)) {
      write_simulation_line(*console_, point_.p, work_.runs, *simulated);
    }
    if (records_ == nullptr) return;
    bytes_.clear();
    if (!current_ || !same_point(*current_, result.point)) {
      current_ = result.point;
      records::append(bytes_, records::PointChange{result.point});
    }
    std::visit([this](const auto& value) { records::append(bytes_, value); }, result.value);
    write_line(*records_, bytes_);
  }

 private:
  runtime::OutputStream* records_;
  runtime::OutputStream* console_;
  const Point& point_;
  const PointWork& work_;
  std::optional<Point> current_;
  std::string bytes_;
};

void run(const Point& point, const PointWork& work, const ProcessSettings& settings, int records_fd,
         int progress_fd) {
  const PointParameters& p = point.p;
  // A simulation that would take more memory than there is stops with 203
  // before it takes it, as when an allocation fails, rather than being
  // ended by the system once its pages are touched. (A study of this one
  // point was refused with the figures before it began.)
  if (work.runs > 0) {
    const runtime::MemoryRoom room = runtime::memory_room();
    if (simulation_memory_refusal(point, work.runs, room.bytes, room.limit)) {
      throw_stop(kOutOfMemory);
    }
  }
  runtime::OutputStream* console = nullptr;
  runtime::OutputStream* file = nullptr;
  runtime::OutputStream* records = nullptr;
  // The records first: a failure of any other output is told there.
  if (records_fd >= 0) {
    records = &runtime::records();
    records->open(records_fd, runtime::LineEnd::lf, true, kRecordBufferSize);
  }
  if (settings.console_lines) {
    console = &runtime::console();
    console->open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  }
  if (settings.report_fd >= 0) {
    // Standard output as a stream of its own, as the dialogue's empty file
    // name makes it, or the report file.
    file = &runtime::report_file();
    file->open(settings.report_fd, runtime::LineEnd::crlf, settings.report_fd != STDOUT_FILENO);
    write_report_header(*file, p);
  }
  ProgressPipe progress(progress_fd);
  ReportLines lines(console, file, p.blocks);
  RecordSink sink(records, work.sums ? nullptr : console, point, work);
  run_point(point, work, sink, &progress, console != nullptr || file != nullptr ? &lines : nullptr);
  close_stream(runtime::report_file());
  close_stream(runtime::records());
  close_stream(runtime::console());
}

}  // namespace

void run_point_process(const Point& point, const PointWork& work, const ProcessSettings& settings,
                       int records_fd, int progress_fd) {
  runtime::set_stop_style(settings.stop_style);
  int status = 0;
  std::uintptr_t place = 0;
  try {
    stop_when_out_of_memory([&] { run(point, work, settings, records_fd, progress_fd); });
  } catch (const Stop& stop) {
    status = stop.number();
    place = stop.place();
  }
  if (status != 0) {
    // What the point wrote stays written, then the study learns why it
    // stopped.
    runtime::OutputStream& records = runtime::records();
    if (records.is_open() && records.result() == 0) {
      std::string bytes;
      records::append(bytes, Stopped{status, false, runtime::code_offset(place)});
      records.put(bytes);
    } else if (settings.stop_style == runtime::StopStyle::words) {
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
