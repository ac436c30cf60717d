// The tail vector generation by generation, without computing generations
// whose result is already known. A generation depends on the tail vector
// alone, so once a vector recurs bit for bit, every later one repeats the
// states in between: the trajectory finds the recurrence (Brent's cycle
// finding on the vectors, compared bit for bit), keeps the states of one
// period and answers later generations from them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "model/generation.hpp"
#include "model/level_matrix.hpp"

namespace blocklevels {

class TailTrajectory {
 public:
  // The tail vector starts at 0 for every level: the whole population at
  // level 0. `m` must outlive the first call of at().
  TailTrajectory(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda);

  // The tail vector after `generation` generations (tail[j - 1] for level
  // j). `generation` never decreases from one call to the next; the span
  // stays valid until the next call. A stop requested through `cancel`
  // throws Cancelled before the next generation is computed.
  std::span<const double> at(std::int64_t generation, const std::stop_token& cancel = {});

  // The period found so far (0 while none is known), for tests and benches.
  std::int64_t period() const { return period_; }

 private:
  void advance_one(const std::stop_token& cancel);
  std::span<const double> state(std::size_t k) const { return {states_.data() + k * l_, l_}; }

  // Longest period kept, in doubles of stored states: a longer cycle is
  // computed through like any other generations.
  static constexpr std::size_t kMaxCycleDoubles = std::size_t{1} << 23;

  std::size_t l_;
  GenerationStep step_;
  std::vector<double> tail_;
  std::int64_t generation_ = 0;
  // Brent's search: the checkpoint vector, the generations since it was
  // taken and the distance at which it is replaced next.
  std::vector<double> checkpoint_;
  std::int64_t since_checkpoint_ = 0;
  std::int64_t checkpoint_distance_ = 1;
  bool searching_ = true;
  // Once found: the states of generations cycle_start_ .. cycle_start_ +
  // period_ - 1, one after another in states_.
  std::int64_t period_ = 0;
  std::int64_t cycle_start_ = 0;
  std::vector<double> states_;
};

}  // namespace blocklevels
