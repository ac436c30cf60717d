// The order in which a study's points run and are written: up to `jobs`
// at a time, never further ahead of the first unwritten point than a
// bounded look-ahead (the results of ended points wait, each holding a
// file), and written strictly in the points' order, whatever order they end
// in. Each wake-up costs in proportion to what changed, not to the number
// of points: the progress shown is kept in counters.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "runs/point_workers.hpp"

namespace blocklevels {

// Where the scheduler's points go once their turn has come.
class PointWriter {
 public:
  // Writes point `index`, which ended as `end` (its results are the
  // workers'), or, with `kept`, which an earlier run left complete.
  virtual void write(std::size_t index, const WorkerEvent& end, bool kept) = 0;

 protected:
  ~PointWriter() = default;
};

// How far the study has come, for a progress line.
struct StudyProgress {
  std::size_t done = 0, points = 0;
  double share = 0;  // of all the work, 0 to 1
  // One point running alone: its report time and last report time.
  std::int64_t t = 0, last_t = 0;
  // The first running point whose simulated runs have begun (its number
  // from 1, 0 for none), and their count.
  std::size_t simulating = 0;
  std::uint64_t runs_done = 0, runs_total = 0;
};

class ProgressDisplay {
 public:
  virtual bool enabled() const = 0;
  virtual void show(const StudyProgress& progress) = 0;

 protected:
  ~ProgressDisplay() = default;
};

struct SchedulerPoint {
  std::size_t number = 0;   // in the whole study, from 1
  std::int64_t last_t = 0;  // its last report time
  bool kept = false;        // complete in the table resumed
};

class Scheduler {
 public:
  Scheduler(std::vector<SchedulerPoint> points, std::size_t jobs, PointWorkers& workers,
            PointWriter& writer, ProgressDisplay& progress);

  // How far ahead of the first unwritten point points start with `jobs`
  // running at once: the most points ended and waiting for their turn,
  // each holding its results (a file, for the process workers).
  static std::size_t look_ahead(std::size_t jobs);

  // Runs and writes every point. Returns the interrupt that stopped it (0
  // when every point was written): then every point that had ended is
  // written, in order, the others are ended, and missing() names them.
  int run(const std::function<int()>& pending_interrupt);

  // The numbers (from 1) of the points an interrupt left unwritten.
  const std::vector<std::size_t>& missing() const { return missing_; }

 private:
  enum class Phase { waiting, running, ended, kept, written };
  struct State {
    Phase phase = Phase::waiting;
    WorkerEvent last;  // its progress, then how it ended
    double share = 0;  // of its own work done
  };

  void start_more();
  void take(const WorkerEvent& event);
  void set_share(State& state, double share);
  void write_ready();
  void show_progress();
  void interrupted();

  std::vector<SchedulerPoint> points_;
  std::vector<State> states_;
  std::size_t concurrency_;
  std::size_t look_ahead_;
  PointWorkers& workers_;
  PointWriter& writer_;
  ProgressDisplay& progress_;
  std::size_t next_start_ = 0, next_write_ = 0, running_ = 0;
  std::size_t done_ = 0;
  double share_ = 0;
  std::vector<std::size_t> missing_;
};

}  // namespace blocklevels
