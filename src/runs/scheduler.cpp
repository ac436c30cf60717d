#include "runs/scheduler.hpp"

#include <algorithm>

namespace blocklevels {
namespace {

// How often the progress line is brought up to date while nothing happens.
constexpr std::chrono::milliseconds kProgressInterval{250};

}  // namespace

Scheduler::Scheduler(std::vector<SchedulerPoint> points, std::size_t jobs, PointWorkers& workers,
                     PointWriter& writer, ProgressDisplay& progress)
    : points_(std::move(points)),
      states_(points_.size()),
      concurrency_(std::clamp<std::size_t>(jobs, 1, std::max<std::size_t>(points_.size(), 1))),
      look_ahead_(look_ahead(concurrency_)),
      workers_(workers),
      writer_(writer),
      progress_(progress) {
  for (std::size_t i = 0; i < points_.size(); ++i) {
    if (!points_[i].kept) continue;
    states_[i].phase = Phase::kept;
    set_share(states_[i], 1.0);
  }
}

std::size_t Scheduler::look_ahead(std::size_t jobs) {
  // Points ended but not yet written hold their results (a file each):
  // how far ahead of the first unwritten point new ones may start.
  return std::max<std::size_t>(4 * jobs, 32);
}

void Scheduler::set_share(State& state, double share) {
  if (state.share == 1.0) --done_;
  share_ += share - state.share;
  state.share = share;
  if (share == 1.0) ++done_;
}

void Scheduler::start_more() {
  while (running_ < concurrency_ && next_start_ < points_.size() &&
         next_start_ < next_write_ + look_ahead_) {
    const std::size_t i = next_start_++;
    if (states_[i].phase != Phase::waiting) continue;
    ++running_;
    states_[i].phase = Phase::running;
    states_[i].last = WorkerEvent{.index = i};
    workers_.start(i, std::min(concurrency_, points_.size()));
  }
}

// A point's news: how far it has come, or that it has ended.
void Scheduler::take(const WorkerEvent& event) {
  State& state = states_[event.index];
  if (state.phase != Phase::running) return;
  if (event.ended) {
    state.phase = Phase::ended;
    state.last.ended = true;
    state.last.status = event.status;
    state.last.by_signal = event.by_signal;
    --running_;
    set_share(state, 1.0);
    return;
  }
  state.last.t = event.t;
  state.last.runs_done = event.runs_done;
  state.last.runs_total = event.runs_total;
  // Simulated runs take longer than the model: once they have begun they
  // are the measure of the point's work, else its generations.
  const double share =
      event.runs_total > 0
          ? static_cast<double>(event.runs_done) / static_cast<double>(event.runs_total)
          : static_cast<double>(event.t) / static_cast<double>(points_[event.index].last_t) * 0.999;
  set_share(state, std::min(share, 0.999));
}

void Scheduler::write_ready() {
  while (next_write_ < points_.size() && (states_[next_write_].phase == Phase::ended ||
                                          states_[next_write_].phase == Phase::kept)) {
    State& state = states_[next_write_];
    writer_.write(next_write_, state.last, state.phase == Phase::kept);
    state.phase = Phase::written;
    ++next_write_;
  }
}

// "points 3/64, runs 2/6 of point 4", or for one point its generations:
// what the line shows is the display's; the numbers are kept here. The
// simulating point is looked for among the running ones only.
void Scheduler::show_progress() {
  if (!progress_.enabled()) return;
  StudyProgress p;
  p.done = done_;
  p.points = points_.size();
  p.share = points_.empty() ? 1.0 : share_ / static_cast<double>(points_.size());
  const std::size_t end = std::min(next_start_, points_.size());
  for (std::size_t i = next_write_; i < end; ++i) {
    const State& s = states_[i];
    if (s.phase != Phase::running) continue;
    if (points_.size() == 1) {
      p.t = s.last.t;
      p.last_t = points_[i].last_t;
    }
    if (s.last.runs_total > 0) {
      p.simulating = points_[i].number;
      p.runs_done = s.last.runs_done;
      p.runs_total = s.last.runs_total;
      break;
    }
  }
  progress_.show(p);
}

int Scheduler::run(const std::function<int()>& pending_interrupt) {
  write_ready();
  while (next_write_ < points_.size()) {
    start_more();
    std::vector<WorkerEvent> events;
    if (running_ > 0) {
      events = workers_.wait(progress_.enabled()
                                 ? std::optional<std::chrono::milliseconds>(kProgressInterval)
                                 : std::nullopt);
    }
    if (const int signal = pending_interrupt()) {
      for (const WorkerEvent& event : events) take(event);
      interrupted();
      return signal;
    }
    for (const WorkerEvent& event : events) take(event);
    write_ready();
    show_progress();
  }
  return 0;
}

// Every running point is ended; those that had finished keep their
// status. Every ended or kept point is written, in order; the rest are
// missing.
void Scheduler::interrupted() {
  for (const WorkerEvent& event : workers_.end_all()) {
    if (!event.by_signal) {
      take(event);
      continue;
    }
    states_[event.index].phase = Phase::waiting;
    --running_;
    workers_.discard(event.index);
  }
  for (std::size_t i = next_write_; i < points_.size(); ++i) {
    State& state = states_[i];
    if (state.phase == Phase::ended || state.phase == Phase::kept) {
      writer_.write(i, state.last, state.phase == Phase::kept);
      state.phase = Phase::written;
    } else if (state.phase != Phase::written) {
      missing_.push_back(points_[i].number);
    }
  }
  next_write_ = points_.size();
}

}  // namespace blocklevels
