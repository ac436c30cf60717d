#include "model/point_trajectory.hpp"

#include <algorithm>
#include <cmath>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

PointTrajectory::PointTrajectory(const PointTransitions& transitions, std::int32_t mu,
                                 std::int32_t lambda)
    : l_(static_cast<std::size_t>(transitions.l())),
      generation_step_(transitions, mu, lambda),
      state_(l_),
      reported_(l_),
      checkpoint_(l_) {}

// One generation, its tails rounded to the doubles reported.
void PointTrajectory::step(const std::stop_token& cancel) {
  stop_if_cancelled(cancel);
  unchanged_ = generation_step_.advance(state_);
  ++generation_;
  // A finite tail that rounds to an infinite double is beyond the double
  // range: an overflow where it is stored, as round_to_double_or_stop says.
  bool beyond = false;
  for (std::size_t n = 0; n < l_; ++n) {
    reported_[n] = static_cast<double>(state_.tails[n]);
    beyond = beyond || (std::isinf(reported_[n]) && std::isfinite(state_.tails[n]));
  }
  if (beyond) throw_stop(kFloatOverflow);
}

void PointTrajectory::advance_one(const std::stop_token& cancel) {
  step(cancel);
  if (!searching_) return;
  std::int64_t period = 0;
  if (unchanged_) {
    period = 1;
  } else {
    ++since_checkpoint_;
    if (same_extended_bits(state_.points, checkpoint_)) {
      period = since_checkpoint_;
    } else if (since_checkpoint_ == checkpoint_distance_) {
      checkpoint_ = state_.points;
      since_checkpoint_ = 0;
      checkpoint_distance_ *= 2;
    }
  }
  if (period == 0) return;
  searching_ = false;
  if (static_cast<std::size_t>(period) > kMaxCycleDoubles / std::max<std::size_t>(l_, 1)) return;
  // One period from here on: generations the run would compute anyway.
  states_.resize(static_cast<std::size_t>(period) * l_);
  cycle_start_ = generation_;
  std::copy(reported_.begin(), reported_.end(), states_.begin());
  for (std::int64_t k = 1; k < period; ++k) {
    step(cancel);
    std::copy(reported_.begin(), reported_.end(),
              states_.begin() + static_cast<std::ptrdiff_t>(k) * static_cast<std::ptrdiff_t>(l_));
  }
  period_ = period;
}

std::span<const double> PointTrajectory::at(std::int64_t generation,
                                            const std::stop_token& cancel) {
  while (period_ == 0 && generation_ < generation) advance_one(cancel);
  if (period_ == 0) return reported_;
  return recorded(static_cast<std::size_t>((generation - cycle_start_) % period_));
}

}  // namespace blocklevels
