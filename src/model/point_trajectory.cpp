#include "model/point_trajectory.hpp"

#include <cmath>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

PointGenerations::PointGenerations(const PointTransitions& transitions, std::int32_t mu,
                                   std::int32_t lambda)
    : generation_step_(transitions, mu, lambda),
      state_(static_cast<std::size_t>(transitions.l())),
      reported_(static_cast<std::size_t>(transitions.l())) {}

// One generation, its tails rounded to the doubles reported.
bool PointGenerations::compute(const std::stop_token& cancel) {
  stop_if_cancelled(cancel);
  const bool unchanged = generation_step_.advance(state_);
  // A finite tail that rounds to an infinite double is beyond the double
  // range: an overflow where it is stored, as round_to_double_or_stop says.
  bool beyond = false;
  for (std::size_t n = 0; n < reported_.size(); ++n) {
    reported_[n] = static_cast<double>(state_.tails[n]);
    beyond = beyond || (std::isinf(reported_[n]) && std::isfinite(state_.tails[n]));
  }
  if (beyond) throw_stop(kFloatOverflow);
  return unchanged;
}

}  // namespace blocklevels
