// The accurate evaluation generation by generation, reported as doubles,
// without computing generations whose result is already known: once the
// point probabilities recur bit for bit (all 80 bits of each), every later
// state repeats the ones in between. As in TailTrajectory, Brent's cycle
// finding on the states, and one period of reported tails kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "model/point_generation.hpp"
#include "model/point_transitions.hpp"

namespace blocklevels {

class PointTrajectory {
 public:
  // Starts with the whole population at level 0 (every point probability
  // above it 0). `groups` must outlive the trajectory.
  PointTrajectory(const PointTransitions& transitions, std::int32_t mu, std::int32_t lambda);

  // The tails after `generation` generations (tail[j - 1] for level j), each
  // rounded once from its extended value. `generation` never decreases
  // from one call to the next; the span stays valid until the next call.
  // Must run inside an ExtendedArithmetic scope. A tail beyond the double
  // range stops with 205, at the generation that reaches it, as the literal
  // evaluation stores every generation; the generation's own stops are
  // PointGeneration's. A stop requested through `cancel` throws Cancelled
  // before the next generation is computed.
  std::span<const double> at(std::int64_t generation, const std::stop_token& cancel = {});

  // The period found so far (0 while none is known), for tests and benches.
  std::int64_t period() const { return period_; }

 private:
  void advance_one(const std::stop_token& cancel);
  void step(const std::stop_token& cancel);
  std::span<const double> recorded(std::size_t k) const { return {states_.data() + k * l_, l_}; }

  // Longest period kept, in doubles of reported tails.
  static constexpr std::size_t kMaxCycleDoubles = std::size_t{1} << 23;

  std::size_t l_;
  PointGeneration generation_step_;
  PointState state_;
  std::vector<double> reported_;
  bool unchanged_ = false;
  std::int64_t generation_ = 0;
  // Brent's search: the checkpoint's point probabilities, the generations
  // since it was taken and the distance at which it is replaced next.
  std::vector<long double> checkpoint_;
  std::int64_t since_checkpoint_ = 0;
  std::int64_t checkpoint_distance_ = 1;
  bool searching_ = true;
  // Once found: the reported tails of generations cycle_start_ ..
  // cycle_start_ + period_ - 1, one after another.
  std::int64_t period_ = 0;
  std::int64_t cycle_start_ = 0;
  std::vector<double> states_;
};

}  // namespace blocklevels
