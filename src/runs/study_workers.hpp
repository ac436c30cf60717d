// The study's workers: each point on a thread of the study's own process,
// or in a process of its own where isolation is worth its cost (about 5 ms
// a point: fork, a records file, a pipe). The scheduler sees one
// PointWorkers; which kind ran a point changes no value and no byte.
#pragma once

#include <cstdint>
#include <vector>

#include "runs/process_workers.hpp"
#include "runs/thread_workers.hpp"

namespace blocklevels {

// The most a point on a thread may be expected to take: beyond it a failed
// allocation or the system's out-of-memory killer would take the whole
// study down, so such a point runs in a process, whose stop 203 ends it
// alone.
inline constexpr std::uint64_t kThreadPointBytes = std::uint64_t{64} << 20;

// The most work, in the steps of point_steps(), a point on a thread may be
// expected to take: about a tenth of a second. A longer point gains less
// than 5 % from a thread, and keeps what a process gives: it can be ended
// (or killed) alone, and a fault in it ends only itself.
inline constexpr long double kThreadPointSteps = 0x1p25L;

// The most a point on a thread may give in results: they wait in memory
// until the point's turn (a process's wait in a file), up to the
// scheduler's look-ahead of them.
inline constexpr std::uint64_t kThreadResultBytes = std::uint64_t{1} << 20;

// When every point of a study runs on a thread, the scheduler starts this
// many per job: the threads (--jobs of them) take the points in turn, and
// the points beyond wait in their queue.
inline constexpr std::size_t kThreadPointsAhead = 4;

// What a point's results are expected to take in memory: each report's
// model tail ((l + 1) doubles) and simulated estimates (a mean and a
// half-width per level), 128 bytes of bookkeeping each, a search's grid,
// and each run's own hitting time. Saturated at 2^64 - 1.
std::uint64_t result_bytes(const PointParameters& p, const PointWork& work);

// What a point is expected to hold at once: its level model (twice the
// prepared model's (l + 1)^2 extended values: the matrix and what a
// generation works on) and its simulated runs' workers, `threads` of them.
// Saturated at 2^64 - 1.
std::uint64_t point_bytes(const PointParameters& p, std::int32_t runs, unsigned threads);

// The work a point is expected to take, in steps of a few nanoseconds: the
// model's matrix ((l + 1)^2 (b + 1)) and its generations ((l + 1)^2 each),
// as many times as a search evaluates it (its grid and as many again to
// refine), and its simulated runs (lambda (l + 1) a generation).
long double point_steps(const PointParameters& p, const PointWork& work);

// Whether a point runs on a thread. A study of one point keeps its process
// (it writes the dialogue's lines and the report file there, and its stop
// words, and gains nothing from a thread); so do a point of the block-state
// model, whose exact compositions these estimates do not cover, a point
// expected to take more than kThreadPointSteps or to give more than
// kThreadResultBytes, and one expected to take more than kThreadPointBytes
// or, with `jobs` such points at once, more than half of the memory the
// study may still take (`room`).
bool runs_on_thread(const PointParameters& p, const PointWork& work, bool single_point, int jobs,
                    std::uint64_t room);

class StudyWorkers final : public PointWorkers {
 public:
  // `on_thread` (one per point) chooses each point's kind; the rest as
  // ProcessWorkers and ThreadWorkers take them.
  StudyWorkers(const std::vector<const Point*>& points, const std::vector<PointWork>& work,
               const ProcessSettings& settings, int wake, std::vector<bool> on_thread,
               ModelSource* models);

  void start(std::size_t index, std::size_t running) override;
  std::vector<WorkerEvent> wait(std::optional<std::chrono::milliseconds> timeout) override;
  void results(std::size_t index, const WorkerEvent& end, ResultSink& sink) override;
  std::vector<WorkerEvent> end_all() override;
  void discard(std::size_t index) override;

 private:
  std::vector<bool> on_thread_;
  ThreadWorkers threads_;
  ProcessWorkers processes_;
};

}  // namespace blocklevels
