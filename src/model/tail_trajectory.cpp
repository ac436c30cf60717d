#include "model/tail_trajectory.hpp"

#include <algorithm>
#include <cstring>

#include "arithmetic/cancelled.hpp"

namespace blocklevels {

TailTrajectory::TailTrajectory(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda)
    : l_(static_cast<std::size_t>(m.n())), step_(m, mu, lambda), tail_(l_), checkpoint_(l_) {}

void TailTrajectory::advance_one(const std::stop_token& cancel) {
  stop_if_cancelled(cancel);
  const bool unchanged = step_.advance(tail_.data());
  ++generation_;
  if (!searching_) return;
  // A fixed point is recognised at once; longer periods by Brent's search.
  std::int64_t period = 0;
  if (unchanged) {
    period = 1;
  } else {
    ++since_checkpoint_;
    if (std::memcmp(tail_.data(), checkpoint_.data(), l_ * sizeof(double)) == 0) {
      period = since_checkpoint_;
    } else if (since_checkpoint_ == checkpoint_distance_) {
      std::memcpy(checkpoint_.data(), tail_.data(), l_ * sizeof(double));
      since_checkpoint_ = 0;
      checkpoint_distance_ *= 2;
    }
  }
  if (period == 0) return;
  searching_ = false;
  if (static_cast<std::size_t>(period) > kMaxCycleDoubles / std::max<std::size_t>(l_, 1)) return;
  // Record one period from here on; the generations it takes are ones the
  // run would compute anyway.
  states_.resize(static_cast<std::size_t>(period) * l_);
  cycle_start_ = generation_;
  std::copy(tail_.begin(), tail_.end(), states_.begin());
  for (std::int64_t k = 1; k < period; ++k) {
    stop_if_cancelled(cancel);
    step_.advance(tail_.data());
    ++generation_;
    std::copy(tail_.begin(), tail_.end(),
              states_.begin() + static_cast<std::ptrdiff_t>(k) * static_cast<std::ptrdiff_t>(l_));
  }
  period_ = period;
}

std::span<const double> TailTrajectory::at(std::int64_t generation, const std::stop_token& cancel) {
  while (period_ == 0 && generation_ < generation) advance_one(cancel);
  if (period_ == 0) return tail_;
  // Every generation from cycle_start_ on is one of the recorded states.
  return state(static_cast<std::size_t>((generation - cycle_start_) % period_));
}

}  // namespace blocklevels
