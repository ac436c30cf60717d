// How the scheduler has a study's points computed: it starts a point,
// hears what the point tells (how far it has come, that it has ended) and,
// once the point's turn in the table has come, takes its results. The real
// workers are processes (runs/process_workers.hpp); a test drives the
// scheduler with workers of its own, in-process, without fork or poll.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "results/point_result.hpp"

namespace blocklevels {

// What happened to a started point.
struct WorkerEvent {
  std::size_t index = 0;  // the point, as the scheduler numbers them from 0
  bool ended = false;     // else progress
  // Progress: the model's report time last reached; the simulated runs done
  // and to do (0 of 0 while none have begun).
  std::int64_t t = 0;
  std::uint64_t runs_done = 0, runs_total = 0;
  // Ended: 0, the stop number, or 128 + the signal that ended it.
  int status = 0;
  bool by_signal = false;
};

class PointWorkers {
 public:
  virtual ~PointWorkers() = default;

  // Starts point `index`; `running` points (this one included) run at once,
  // which a worker may use to share the machine's threads among them.
  virtual void start(std::size_t index, std::size_t running) = 0;
  // Waits until started points have news, an interrupt has come, or
  // `timeout` has passed (nothing: no limit), and returns the news. Only
  // points that changed are touched.
  virtual std::vector<WorkerEvent> wait(std::optional<std::chrono::milliseconds> timeout) = 0;
  // An ended point's results, in their order, to `sink`; a point that
  // stopped gives one Stopped result with its status and place. Called once
  // per ended point.
  virtual void results(std::size_t index, const WorkerEvent& end, ResultSink& sink) = 0;
  // Ends every running point at once (an interrupt), and returns how each
  // ended: a point that finished before it was ended keeps its status.
  virtual std::vector<WorkerEvent> end_all() = 0;
  // Forgets an ended point whose results are not wanted (an interrupted
  // study's point that did not end well).
  virtual void discard(std::size_t index) = 0;
};

}  // namespace blocklevels
