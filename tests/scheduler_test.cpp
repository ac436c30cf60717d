// The scheduler driven by workers of the test's own, in-process: points
// end in any order and are written in theirs; never more run than the jobs,
// never further ahead than the look-ahead; stops, kept points, interrupts
// and progress as promised.
#include "runs/scheduler.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <set>

namespace blocklevels {
namespace {

// Points that end in an order the test draws: each wait() ends one running
// point (a random one), after telling one progress of another.
class FakeWorkers final : public PointWorkers {
 public:
  FakeWorkers(std::size_t points, std::uint64_t seed) : status(points, 0), random_(seed) {}

  void start(std::size_t index, std::size_t) override {
    running_.push_back(index);
    started.push_back(index);
    most_running = std::max(most_running, running_.size());
  }
  std::vector<WorkerEvent> wait(std::optional<std::chrono::milliseconds>) override {
    ++waits;
    std::vector<WorkerEvent> events;
    const std::size_t pick = random_() % running_.size();
    const std::size_t index = running_[pick];
    events.push_back({.index = running_[(pick + 1) % running_.size()], .t = 5});
    if (interrupt_after != 0 && waits == interrupt_after) return events;
    running_.erase(running_.begin() + static_cast<std::ptrdiff_t>(pick));
    events.push_back({.index = index, .ended = true, .status = status[index]});
    return events;
  }
  void results(std::size_t index, const WorkerEvent& end, ResultSink& sink) override {
    Point point;
    point.p.blocks = static_cast<std::int32_t>(index);
    if (end.status != 0) {
      sink.take({point, Stopped{end.status, end.by_signal, std::nullopt}});
    } else {
      sink.take({point, ModelReport{static_cast<std::int64_t>(index), {}}});
    }
  }
  std::vector<WorkerEvent> end_all() override {
    std::vector<WorkerEvent> events;
    for (const std::size_t index : running_) {
      events.push_back({.index = index, .ended = true, .status = 143, .by_signal = true});
    }
    running_.clear();
    return events;
  }
  void discard(std::size_t index) override { discarded.push_back(index); }

  std::vector<int> status;
  std::vector<std::size_t> started, discarded;
  std::size_t most_running = 0;
  std::size_t waits = 0;
  std::size_t interrupt_after = 0;  // the wait after which an interrupt is pending

 private:
  std::vector<std::size_t> running_;
  std::mt19937_64 random_;
};

// What the writer is given, and how far ahead of it points were started.
class Written final : public PointWriter, public ResultSink {
 public:
  explicit Written(FakeWorkers& workers) : workers_(workers) {}
  void write(std::size_t index, const WorkerEvent& end, bool kept) override {
    order.push_back(index);
    if (kept) {
      kept_points.push_back(index);
      return;
    }
    statuses.push_back(end.status);
    workers_.results(index, end, *this);
    // Every point started so far is within the look-ahead of this one.
    for (const std::size_t s : workers_.started)
      farthest = std::max(farthest, s - std::min(s, index));
  }
  void take(const Result&) override {}

  std::vector<std::size_t> order, kept_points;
  std::vector<int> statuses;
  std::size_t farthest = 0;

 private:
  FakeWorkers& workers_;
};

class Shown final : public ProgressDisplay {
 public:
  bool enabled() const override { return true; }
  void show(const StudyProgress& p) override {
    EXPECT_GE(p.share, last.share - 1e-12);  // the work done never shrinks
    EXPECT_LE(p.share, 1.0 + 1e-12);
    last = p;
  }
  StudyProgress last;
};

std::vector<SchedulerPoint> points(std::size_t n, const std::set<std::size_t>& kept = {}) {
  std::vector<SchedulerPoint> all;
  for (std::size_t i = 0; i < n; ++i) all.push_back({i + 1, 10, kept.count(i) > 0});
  return all;
}

int no_interrupt() {
  return 0;
}

struct Shape {
  std::size_t points, jobs;
  std::uint64_t seed;
};

class Scheduling : public ::testing::TestWithParam<Shape> {};

TEST_P(Scheduling, WritesInOrderWithinJobsAndLookAhead) {
  const Shape& s = GetParam();
  FakeWorkers workers(s.points, s.seed);
  workers.status[s.points / 2] = 203;
  Written written(workers);
  Shown shown;
  Scheduler scheduler(points(s.points), s.jobs, workers, written, shown);
  EXPECT_EQ(scheduler.run(no_interrupt), 0);
  std::vector<std::size_t> expected(s.points);
  for (std::size_t i = 0; i < s.points; ++i) expected[i] = i;
  EXPECT_EQ(written.order, expected) << "seed " << s.seed;
  EXPECT_EQ(workers.started.size(), s.points);
  EXPECT_LE(workers.most_running, s.jobs);
  EXPECT_LT(written.farthest, std::max<std::size_t>(4 * s.jobs, 32));
  EXPECT_EQ(written.statuses[s.points / 2], 203);
  EXPECT_EQ(std::count(written.statuses.begin(), written.statuses.end(), 0),
            static_cast<std::ptrdiff_t>(s.points - 1));
  EXPECT_EQ(shown.last.done, s.points);
}

INSTANTIATE_TEST_SUITE_P(Shapes, Scheduling,
                         ::testing::Values(Shape{1, 1, 1}, Shape{7, 2, 2}, Shape{100, 3, 3},
                                           Shape{300, 16, 4}, Shape{64, 64, 5}, Shape{2, 8, 6}));

TEST(Scheduler, KeptPointsAreWrittenAndNotRun) {
  FakeWorkers workers(10, 7);
  Written written(workers);
  Shown shown;
  Scheduler scheduler(points(10, {0, 3, 4, 9}), 2, workers, written, shown);
  EXPECT_EQ(scheduler.run(no_interrupt), 0);
  EXPECT_EQ(written.kept_points, (std::vector<std::size_t>{0, 3, 4, 9}));
  EXPECT_EQ(written.order.size(), 10u);
  EXPECT_TRUE(std::is_sorted(written.order.begin(), written.order.end()));
  std::vector<std::size_t> started = workers.started;
  std::sort(started.begin(), started.end());
  EXPECT_EQ(started, (std::vector<std::size_t>{1, 2, 5, 6, 7, 8}));
}

// An interrupt ends the running points; every point that had ended is
// written, in order, with the kept ones; the rest are missing.
TEST(Scheduler, AnInterruptWritesWhatEndedAndNamesTheRest) {
  FakeWorkers workers(12, 8);
  workers.interrupt_after = 5;
  Written written(workers);
  Shown shown;
  Scheduler scheduler(points(12, {11}), 3, workers, written, shown);
  // The interrupt is pending once the fifth wait has returned.
  EXPECT_EQ(scheduler.run([&] { return workers.waits >= 5 ? 2 : 0; }), 2);
  EXPECT_TRUE(std::is_sorted(written.order.begin(), written.order.end()));
  EXPECT_EQ(written.order.back(), 11u);  // the kept point, after the gap
  // Every point is written or missing, never both.
  std::set<std::size_t> seen(written.order.begin(), written.order.end());
  for (const std::size_t number : scheduler.missing()) {
    EXPECT_EQ(seen.count(number - 1), 0u) << number;
    seen.insert(number - 1);
  }
  EXPECT_EQ(seen.size(), 12u);
  EXPECT_EQ(written.order.size(), 5u);  // four ended before, and the kept one
  // The points ended by the interrupt are discarded, not written.
  EXPECT_EQ(workers.discarded.size(), 3u);
  for (const std::size_t index : workers.discarded) {
    EXPECT_EQ(std::count(written.order.begin(), written.order.end(), index), 0);
  }
}

}  // namespace
}  // namespace blocklevels
