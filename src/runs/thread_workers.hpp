// Points computed on threads of the study's own process: no fork, no pipe
// or file per point. The numeric core holds no globals and reports its
// stops as values, so a point that stops (an overflow, 203 when an
// allocation fails) ends as a process's point would: its status, and one
// Stopped result in place of its results. What a thread cannot contain (a
// trap, the system ending the process for memory) is why the study keeps
// processes for the points that could (runs/point_placement.hpp).
//
// A point's results wait in memory until their turn: the scheduler's
// look-ahead bounds how many points wait. Each news (progress, an end) is
// queued, and wakes the study through a pipe it polls beside its processes
// once the threads are about to run out of points.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <stop_token>
#include <thread>
#include <vector>

#include "points/point_run.hpp"
#include "runs/point_workers.hpp"

namespace blocklevels {

class ThreadWorkers {
 public:
  // `points` and `work` (one per point) outlive the workers; `jobs` is the
  // machine's share, divided among the points running at once as the
  // processes divide it; `models`, when given, is shared by every point.
  ThreadWorkers(const std::vector<const Point*>& points, const std::vector<PointWork>& work,
                int jobs, ModelSource* models);
  // Asks the running points to stop and waits for their threads.
  ~ThreadWorkers();
  ThreadWorkers(const ThreadWorkers&) = delete;
  ThreadWorkers& operator=(const ThreadWorkers&) = delete;

  // Readable once news waits and the threads are about to run out of
  // points (non-blocking; news() empties it).
  int news_fd() const { return pipe_[0]; }
  bool has_news() const;
  // The news since the last call: progress, and the points that ended.
  std::vector<WorkerEvent> news();

  // As PointWorkers does (runs/point_workers.hpp).
  void start(std::size_t index, std::size_t running);
  void results(std::size_t index, const WorkerEvent& end, ResultSink& sink);
  // Asks every running point to stop and waits for them: a point that had
  // ended (its news not yet taken) or that ends before it sees the request
  // keeps its status; the others end by_signal, as a process ended by
  // SIGTERM.
  std::vector<WorkerEvent> end_all();
  void discard(std::size_t index);

 private:
  struct Task {
    std::size_t index;
    unsigned threads;
  };
  class Progress;
  void serve();
  void compute(const Task& task);
  void post(const WorkerEvent& event);  // holds mutex_

  const std::vector<const Point*>& points_;
  const std::vector<PointWork>& work_;
  int jobs_;
  ModelSource* models_;
  int pipe_[2] = {-1, -1};
  std::stop_source stop_;

  mutable std::mutex mutex_;
  std::condition_variable task_ready_, ended_;
  std::deque<Task> tasks_;
  std::vector<WorkerEvent> news_;
  std::size_t busy_ = 0;  // points queued or computing
  bool woken_ = false;    // a byte waits in the pipe
  bool closing_ = false;
  std::vector<std::vector<Result>> results_;  // per point, until written or discarded
  std::vector<std::exception_ptr> faults_;    // per point: what no point should throw
  std::vector<std::jthread> pool_;
};

}  // namespace blocklevels
