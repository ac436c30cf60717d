#include "runs/process_workers.hpp"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>

#include "arithmetic/stop.hpp"
#include "errors/failure.hpp"
#include "runs/point_process.hpp"
#include "runs/point_records.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"

namespace blocklevels {
namespace {

// Where a study's records files go when its table's directory is not one:
// TMPDIR, or /tmp; for messages, how it was named.
std::pair<std::string, std::string> temporary_directory() {
  const char* tmp = std::getenv("TMPDIR");
  if (tmp != nullptr && *tmp != '\0') return {tmp, "TMPDIR ('" + std::string(tmp) + "')"};
  return {"/tmp", "'/tmp'"};
}

// An unnamed file in `dir`, or -1 with errno set.
int unnamed_file(const std::string& dir) {
  const int fd = runtime::above_standard(::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd >= 0 || (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)) return fd;
  std::string name = dir + "/.blocklevels-records-XXXXXX";
  const int named = runtime::above_standard(::mkostemp(name.data(), O_CLOEXEC));
  if (named >= 0) ::unlink(name.c_str());
  return named;
}

}  // namespace

// In `directory` (the table's), so that they wait on the disk the table
// goes to, or else in TMPDIR.
int records_file(const std::string& directory) {
  if (!directory.empty()) {
    const int fd = unnamed_file(directory);
    if (fd >= 0) return fd;
  }
  const auto [dir, named] = temporary_directory();
  const int fd = unnamed_file(dir);
  if (fd >= 0) return fd;
  const int error = errno;
  throw Failure(runtime::os_error_number(error),
                "cannot create a file for the points' results in " + named + ": " +
                    runtime::os_error_words(error));
}

void check_records_place(const std::string& directory) {
  ::close(records_file(directory));
}

ProcessWorkers::ProcessWorkers(const std::vector<const Point*>& points,
                               const std::vector<PointWork>& work, const ProcessSettings& settings,
                               int wake, int news)
    : points_(points),
      work_(work),
      settings_(settings),
      wake_(wake),
      polls_{{wake, POLLIN, 0}},
      records_fds_(points.size(), -1) {
  if (news >= 0) polls_.push_back({news, POLLIN, 0});
  first_ = polls_.size();
}

ProcessWorkers::~ProcessWorkers() {
  for (const int fd : records_fds_) {
    if (fd >= 0) ::close(fd);
  }
  for (std::size_t slot = first_; slot < polls_.size(); ++slot) ::close(polls_[slot].fd);
}

void ProcessWorkers::start(std::size_t index, std::size_t running) {
  int progress[2] = {-1, -1};
  const auto cannot_start = [] {
    const int error = errno;
    throw Failure(runtime::os_error_number(error),
                  "cannot start a point's process: " + runtime::os_error_words(error));
  };
  if (::pipe2(progress, O_CLOEXEC) != 0) cannot_start();
  for (int& fd : progress) {
    fd = runtime::above_standard(fd);
    if (fd < 0) cannot_start();
  }
  records_fds_[index] = records_file(settings_.records_directory);
  // What a child inherits of the parent's buffers must already be written.
  runtime::console().flush();
  const pid_t pid = runtime::start_child_process();
  if (pid == 0) {
    ::close(progress[0]);
    PointWork work = work_[index];
    work.threads = static_cast<unsigned>(
        std::max(1, settings_.jobs / static_cast<int>(std::max<std::size_t>(running, 1))));
    run_point_process(*points_[index], work, settings_, records_fds_[index], progress[1]);
  }
  ::close(progress[1]);
  running_.push_back({index, pid, {}});
  polls_.push_back({progress[0], POLLIN, 0});
}

bool ProcessWorkers::receive(std::size_t slot, std::vector<WorkerEvent>& events) {
  char chunk[4096];
  const ssize_t n = ::read(polls_[slot + first_].fd, chunk, sizeof chunk);
  if (n < 0 && errno == EINTR) return false;
  if (n <= 0) return true;
  Running& r = running_[slot];
  r.progress.feed({chunk, static_cast<std::size_t>(n)});
  try {
    while (const std::optional<records::Record> record = r.progress.next()) {
      if (const auto* p = std::get_if<records::Progress>(&*record)) {
        events.push_back(
            {.index = r.index, .t = p->t, .runs_done = p->runs_done, .runs_total = p->runs_total});
      }
    }
  } catch (const records::RecordError&) {
    // Progress is only shown: a garbled one is not worth stopping for.
  }
  return false;
}

// The point's process has closed its pipe: it has ended, or is ending.
WorkerEvent ProcessWorkers::reap(std::size_t slot) {
  const Running r = running_[slot];
  int status = 0;
  while (::waitpid(r.pid, &status, 0) < 0 && errno == EINTR) {
  }
  runtime::remove_child_process(r.pid);
  remove(slot);
  WorkerEvent event{.index = r.index, .ended = true};
  if (WIFEXITED(status)) {
    event.status = WEXITSTATUS(status);
  } else if (WIFSIGNALED(status)) {
    event.status = 128 + WTERMSIG(status);
    event.by_signal = true;
  }
  return event;
}

// Takes a point off the poll list: the last entry takes its slot.
void ProcessWorkers::remove(std::size_t slot) {
  ::close(polls_[slot + first_].fd);
  polls_[slot + first_] = polls_.back();
  polls_.pop_back();
  running_[slot] = std::move(running_.back());
  running_.pop_back();
}

std::vector<WorkerEvent> ProcessWorkers::wait(std::optional<std::chrono::milliseconds> timeout) {
  std::vector<WorkerEvent> events;
  const int ready =
      ::poll(polls_.data(), polls_.size(), timeout ? static_cast<int>(timeout->count()) : -1);
  if (ready <= 0) return events;
  // From the last slot down, so that removing one leaves those still to
  // look at in place.
  for (std::size_t slot = running_.size(); slot-- > 0;) {
    if (polls_[slot + first_].revents == 0) continue;
    if (receive(slot, events)) events.push_back(reap(slot));
  }
  return events;
}

void ProcessWorkers::results(std::size_t index, const WorkerEvent& end, ResultSink& sink) {
  const int fd = records_fds_[index];
  records::Reader reader;
  Point point = *points_[index];
  Stopped stopped{end.status, end.by_signal, std::nullopt};
  char chunk[1 << 16];
  std::uint64_t offset = 0;
  for (;;) {
    const ssize_t n = ::pread(fd, chunk, sizeof chunk, static_cast<off_t>(offset));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) throw_stop(runtime::os_error_number(errno));
    if (n == 0) break;
    offset += static_cast<std::uint64_t>(n);
    reader.feed({chunk, static_cast<std::size_t>(n)});
    while (const std::optional<records::Record> record = reader.next()) {
      if (const auto* change = std::get_if<records::PointChange>(&*record)) {
        point = change->point;
      } else if (const auto* s = std::get_if<Stopped>(&*record)) {
        stopped.place = s->place;
      } else if (end.status == 0 && !std::holds_alternative<records::Progress>(*record)) {
        std::visit(
            [&](const auto& value) {
              using T = std::decay_t<decltype(value)>;
              if constexpr (!std::is_same_v<T, records::Progress> &&
                            !std::is_same_v<T, records::PointChange>) {
                sink.take({point, value});
              }
            },
            *record);
      }
    }
  }
  discard(index);
  if (end.status != 0) sink.take({*points_[index], stopped});
}

std::vector<WorkerEvent> ProcessWorkers::end_all() {
  runtime::end_child_processes();
  std::vector<WorkerEvent> events;
  while (!running_.empty()) events.push_back(reap(running_.size() - 1));
  return events;
}

void ProcessWorkers::discard(std::size_t index) {
  if (records_fds_[index] >= 0) ::close(records_fds_[index]);
  records_fds_[index] = -1;
}

}  // namespace blocklevels
