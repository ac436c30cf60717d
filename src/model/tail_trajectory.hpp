// The tail vector generation by generation, without computing generations
// whose result is already known. A generation depends on the tail vector
// alone, so once a vector recurs bit for bit, every later one repeats the
// states in between: the trajectory finds the recurrence (Brent's cycle
// finding on the vectors, compared bit for bit), keeps the states of one
// period and answers later generations from them.
#pragma once

#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "model/generation.hpp"
#include "model/level_matrix.hpp"
#include "model/recurring_trajectory.hpp"

namespace blocklevels {

// The tail vector (tail[j - 1] for level j) as RecurringTrajectory's
// Generations; the vector is both the state compared and the values
// reported.
class TailGenerations {
 public:
  using Checkpoint = std::vector<double>;
  static constexpr std::int64_t kFirstCompared = 1;

  // The tail vector starts at 0 for every level: the whole population at
  // level 0. `m` is not used afterwards.
  TailGenerations(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda);

  void keep(Checkpoint& to) const { to = tail_; }
  bool matches(const Checkpoint& saved) const;
  bool compute(const std::stop_token& cancel);
  void finish() {}
  std::span<const double> reported() const { return tail_; }

 private:
  GenerationStep step_;
  std::vector<double> tail_;
};

// at(generation, cancel): the tail vector after `generation` generations.
using TailTrajectory = RecurringTrajectory<TailGenerations>;

}  // namespace blocklevels
