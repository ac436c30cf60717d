// The accurate evaluation generation by generation, reported as doubles,
// without computing generations whose result is already known: once the
// point probabilities recur bit for bit (all 80 bits of each), every later
// state repeats the ones in between (RecurringTrajectory: Brent's cycle
// finding on the states, and one period of reported tails kept).
#pragma once

#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "model/point_generation.hpp"
#include "model/point_transitions.hpp"
#include "model/recurring_trajectory.hpp"

namespace blocklevels {

// The point probabilities as RecurringTrajectory's Generations, compared
// bit for bit; the tails reported, each rounded once from its extended
// value.
class PointGenerations {
 public:
  using Checkpoint = std::vector<long double>;
  static constexpr std::int64_t kFirstCompared = 1;

  // Starts with the whole population at level 0 (every point probability
  // above it 0). `transitions` must outlive the generations.
  PointGenerations(const PointTransitions& transitions, std::int32_t mu, std::int32_t lambda);

  void keep(Checkpoint& to) const { to = state_.points; }
  bool matches(const Checkpoint& saved) const { return same_extended_bits(state_.points, saved); }
  // Must run inside an ExtendedArithmetic scope. A tail beyond the double
  // range stops with 205, at the generation that reaches it, as the literal
  // evaluation stores every generation; the generation's own stops are
  // PointGeneration's.
  bool compute(const std::stop_token& cancel);
  void finish() {}
  std::span<const double> reported() const { return reported_; }

 private:
  PointGeneration generation_step_;
  PointState state_;
  std::vector<double> reported_;
};

// at(generation, cancel): the tails after `generation` generations (tail[j
// - 1] for level j).
using PointTrajectory = RecurringTrajectory<PointGenerations>;

}  // namespace blocklevels
