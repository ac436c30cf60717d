#include "runs/thread_workers.hpp"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "errors/failure.hpp"
#include "runs/throttled_progress.hpp"
#include "runtime/code_place.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/memory_room.hpp"
#include "runtime/os_error.hpp"
#include "study/study_memory.hpp"

namespace blocklevels {
namespace {

class KeptResults final : public ResultSink {
 public:
  explicit KeptResults(std::vector<Result>& results) : results_(results) {}
  void take(const Result& result) override { results_.push_back(result); }

 private:
  std::vector<Result>& results_;
};

// The interrupts stay with the study's own thread, which polls for them:
// a pool thread starts with them blocked.
class InterruptsBlocked {
 public:
  InterruptsBlocked() {
    sigset_t blocked;
    sigemptyset(&blocked);
    for (const int s : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGCHLD}) sigaddset(&blocked, s);
    pthread_sigmask(SIG_BLOCK, &blocked, &old_);
  }
  ~InterruptsBlocked() { pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
  InterruptsBlocked(const InterruptsBlocked&) = delete;
  InterruptsBlocked& operator=(const InterruptsBlocked&) = delete;

 private:
  sigset_t old_;
};

}  // namespace

// A point's progress as news: the model's at most every 200 ms, as the
// processes send theirs; the simulated runs at every batch.
class ThreadWorkers::Progress final : public ThrottledProgress {
 public:
  Progress(ThreadWorkers& workers, std::size_t index) : workers_(workers), index_(index) {}

 private:
  void send(std::int64_t t, std::uint64_t done, std::uint64_t total) override {
    const std::lock_guard lock(workers_.mutex_);
    workers_.post({.index = index_, .t = t, .runs_done = done, .runs_total = total});
  }

  ThreadWorkers& workers_;
  std::size_t index_;
};

ThreadWorkers::ThreadWorkers(const std::vector<const Point*>& points,
                             const std::vector<PointWork>& work, int jobs, ModelSource* models)
    : points_(points),
      work_(work),
      jobs_(jobs),
      models_(models),
      results_(points.size()),
      faults_(points.size()) {
  if (::pipe2(pipe_, O_CLOEXEC | O_NONBLOCK) != 0 ||
      (pipe_[0] = runtime::above_standard(pipe_[0])) < 0 ||
      (pipe_[1] = runtime::above_standard(pipe_[1])) < 0) {
    const int error = errno;
    throw Failure(runtime::os_error_number(error),
                  "cannot start the points' threads: " + runtime::os_error_words(error));
  }
}

ThreadWorkers::~ThreadWorkers() {
  stop_.request_stop();
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
  }
  task_ready_.notify_all();
  pool_.clear();  // joins
  for (const int fd : pipe_) {
    if (fd >= 0) ::close(fd);
  }
}

void ThreadWorkers::start(std::size_t index, std::size_t running) {
  // Points queued beyond the jobs share none of the machine: as many run at
  // once as there are jobs, whatever the scheduler started.
  const std::size_t at_once =
      std::clamp<std::size_t>(running, 1, static_cast<std::size_t>(std::max(jobs_, 1)));
  const auto threads = static_cast<unsigned>(std::max(1, jobs_ / static_cast<int>(at_once)));
  std::unique_lock lock(mutex_);
  tasks_.push_back({index, threads});
  ++busy_;
  // A thread per point queued or computing, up to the jobs: one that has
  // just ended its point takes the next even before it waits again.
  if (pool_.size() >= std::min(busy_, static_cast<std::size_t>(std::max(jobs_, 1)))) {
    lock.unlock();
    task_ready_.notify_one();
    return;
  }
  lock.unlock();
  const InterruptsBlocked blocked;
  pool_.emplace_back([this] { serve(); });
}

void ThreadWorkers::serve() {
  std::unique_lock lock(mutex_);
  for (;;) {
    task_ready_.wait(lock, [this] { return closing_ || !tasks_.empty(); });
    if (tasks_.empty()) return;  // closing
    const Task task = tasks_.front();
    tasks_.pop_front();
    lock.unlock();
    compute(task);
    lock.lock();
  }
}

// One point, as a point's process computes it: a simulation that would not
// fit stops with 203 before it takes its memory; a stop keeps only the
// Stopped result; a stop requested ends the point as if by SIGTERM.
void ThreadWorkers::compute(const Task& task) {
  const Point& point = *points_[task.index];
  PointWork work = work_[task.index];
  work.threads = task.threads;
  work.models = models_;
  std::vector<Result> results;
  KeptResults sink(results);
  Progress progress(*this, task.index);
  WorkerEvent end{.index = task.index, .ended = true};
  std::exception_ptr fault;
  try {
    if (work.runs > 0) {
      const runtime::MemoryRoom room = runtime::memory_room();
      if (simulation_memory_refusal(point, work.runs, room.bytes, room.limit)) {
        throw_stop(kOutOfMemory);
      }
    }
    run_point(point, work, sink, &progress, nullptr, stop_.get_token());
  } catch (const Stop& stop) {
    end.status = stop.number();
    results.assign(1, {point, Stopped{end.status, false, runtime::code_offset(stop.place())}});
  } catch (const Cancelled&) {
    end.status = 128 + SIGTERM;
    end.by_signal = true;
    results.clear();
  } catch (...) {
    fault = std::current_exception();
  }
  const std::lock_guard lock(mutex_);
  results_[task.index] = std::move(results);
  faults_[task.index] = fault;
  --busy_;
  post(end);
  ended_.notify_all();
}

// The study is woken once the threads are about to need it: fewer points
// queued than threads, so that it starts more. Until then the news waits
// (the study takes it whenever it wakes), and several ends cost one
// wake-up.
void ThreadWorkers::post(const WorkerEvent& event) {
  news_.push_back(event);
  if (woken_ || tasks_.size() >= static_cast<std::size_t>(std::max(jobs_, 1))) return;
  woken_ = true;
  // One byte until news() takes it; a full pipe is readable already.
  if (::write(pipe_[1], "", 1) < 0) return;
}

bool ThreadWorkers::has_news() const {
  const std::lock_guard lock(mutex_);
  return !news_.empty();
}

std::vector<WorkerEvent> ThreadWorkers::news() {
  std::vector<WorkerEvent> events;
  const std::lock_guard lock(mutex_);
  char bytes[64];
  while (::read(pipe_[0], bytes, sizeof bytes) > 0) {
  }
  woken_ = false;
  events.swap(news_);
  return events;
}

void ThreadWorkers::results(std::size_t index, const WorkerEvent& end, ResultSink& sink) {
  std::vector<Result> results;
  std::exception_ptr fault;
  {
    const std::lock_guard lock(mutex_);
    results.swap(results_[index]);
    std::swap(fault, faults_[index]);
  }
  if (fault) std::rethrow_exception(fault);  // a fault of the program itself
  if (end.status != 0 &&
      (results.empty() || !std::holds_alternative<Stopped>(results.back().value))) {
    results.assign(1, {*points_[index], Stopped{end.status, end.by_signal, std::nullopt}});
  }
  for (const Result& result : results) sink.take(result);
}

std::vector<WorkerEvent> ThreadWorkers::end_all() {
  stop_.request_stop();
  std::unique_lock lock(mutex_);
  // Points queued but not begun end at once, as if by SIGTERM.
  for (const Task& task : tasks_) {
    news_.push_back(
        {.index = task.index, .ended = true, .status = 128 + SIGTERM, .by_signal = true});
    --busy_;
  }
  tasks_.clear();
  ended_.wait(lock, [this] { return busy_ == 0; });
  std::vector<WorkerEvent> events;
  for (const WorkerEvent& event : news_) {
    if (event.ended) events.push_back(event);
  }
  news_.clear();
  return events;
}

void ThreadWorkers::discard(std::size_t index) {
  const std::lock_guard lock(mutex_);
  results_[index] = {};
  faults_[index] = nullptr;
}

}  // namespace blocklevels
