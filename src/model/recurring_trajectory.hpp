// A model's reported values generation by generation, without computing
// generations whose result is already known. A generation depends on the
// state it starts from alone, so once that state recurs, every later one
// repeats the states in between: Brent's cycle search on the states finds
// the period, one period of reported values is recorded (with generations
// the run would compute anyway) and later generations are answered from it.
//
// Generations holds one model's state and computes it one generation at a
// time; the search looks at the state between compute() and finish(), so
// the order of evaluation is the model's own:
//   using Checkpoint;                     a copy of the state compared
//   static constexpr std::int64_t kFirstCompared;
//                                         the first generation whose state
//                                         may be compared with the start's
//   void keep(Checkpoint&) const;         copies the state compared
//   bool matches(const Checkpoint&) const;
//   bool compute(const std::stop_token&); the next generation up to the
//                                         state compared; true when it left
//                                         that state as it was (a fixed point)
//   void finish();                        the rest of the generation
//   std::span<const double> reported() const;
//                                         the generation's reported values,
//                                         as many at every generation
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <utility>
#include <vector>

namespace blocklevels {

template <class Generations>
class RecurringTrajectory {
 public:
  // The arguments are Generations' own; the state it starts from is the
  // first checkpoint.
  template <class... Args>
  explicit RecurringTrajectory(Args&&... args)
      : generations_(std::forward<Args>(args)...), l_(generations_.reported().size()) {
    generations_.keep(checkpoint_);
  }

  // The reported values after `generation` generations. `generation` never
  // decreases from one call to the next; the span stays valid until the
  // next call. Stops are Generations'; a stop requested through `cancel`
  // throws Cancelled before the next generation is computed.
  std::span<const double> at(std::int64_t generation, const std::stop_token& cancel = {}) {
    while (period_ == 0 && generation_ < generation) advance_one(cancel);
    if (period_ == 0) return generations_.reported();
    // Every generation from cycle_start_ on is one of the recorded ones.
    const auto k = static_cast<std::size_t>((generation - cycle_start_) % period_);
    return {states_.data() + k * l_, l_};
  }

  // The period found so far (0 while none is known), for tests and benches.
  std::int64_t period() const { return period_; }

 private:
  // Longest period kept, in doubles of reported values: a longer cycle is
  // computed through like any other generations.
  static constexpr std::size_t kMaxCycleDoubles = std::size_t{1} << 23;

  // Brent's step on the state just computed: the period once it is known,
  // else 0. A fixed point is recognised at once.
  std::int64_t search(bool unchanged) {
    if (unchanged) return 1;
    ++since_checkpoint_;
    if (generations_.matches(checkpoint_)) return since_checkpoint_;
    if (since_checkpoint_ == checkpoint_distance_) {
      generations_.keep(checkpoint_);
      since_checkpoint_ = 0;
      checkpoint_distance_ *= 2;
    }
    return 0;
  }

  void advance_one(const std::stop_token& cancel) {
    const bool unchanged = generations_.compute(cancel);
    ++generation_;
    std::int64_t period = 0;
    if (searching_ && generation_ >= Generations::kFirstCompared) period = search(unchanged);
    generations_.finish();
    if (period == 0) return;
    searching_ = false;
    checkpoint_ = {};
    if (static_cast<std::size_t>(period) > kMaxCycleDoubles / std::max<std::size_t>(l_, 1)) return;
    record(period, cancel);
  }

  // From this generation on the reported values repeat with `period`.
  void record(std::int64_t period, const std::stop_token& cancel) {
    states_.resize(static_cast<std::size_t>(period) * l_);
    cycle_start_ = generation_;
    std::ranges::copy(generations_.reported(), states_.begin());
    for (std::int64_t k = 1; k < period; ++k) {
      generations_.compute(cancel);
      ++generation_;
      generations_.finish();
      std::ranges::copy(
          generations_.reported(),
          states_.begin() + static_cast<std::ptrdiff_t>(k) * static_cast<std::ptrdiff_t>(l_));
    }
    period_ = period;
  }

  Generations generations_;
  std::size_t l_;
  std::int64_t generation_ = 0;
  // Brent's search: the checkpoint, the generations since it was taken and
  // the distance at which it is replaced next.
  typename Generations::Checkpoint checkpoint_;
  std::int64_t since_checkpoint_ = 0;
  std::int64_t checkpoint_distance_ = 1;
  bool searching_ = true;
  // Once found: the reported values of generations cycle_start_ ..
  // cycle_start_ + period_ - 1, one after another.
  std::int64_t period_ = 0;
  std::int64_t cycle_start_ = 0;
  std::vector<double> states_;
};

}  // namespace blocklevels
