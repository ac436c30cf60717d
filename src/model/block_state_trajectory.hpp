// The block-state model's tail vector generation by generation, without
// computing generations whose result is already known. The offspring of a
// generation depend on its parents alone, so once the parents recur value
// for value, every later generation repeats those in between: Brent's
// cycle search on the parents finds the period, one period of tail vectors
// is recorded and later generations are answered from it.
//
// Trajectory is CompositionTrajectory or IndependentBlocksTrajectory: start(),
// breed(), levels(), select(), copy_parents(), parents_equal().
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <stop_token>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/level_matrix.hpp"
#include "model/level_selection.hpp"

namespace blocklevels {

// A division by zero comes first: its infinity is what an invalid
// operation or an overflow would be made of afterwards.
inline void stop_on_block_state_flags() {
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
  if (raised.overflow) throw_stop(kFloatOverflow);
}

template <class Trajectory>
class BlockStateTrajectory {
 public:
  // Starts `trajectory` at the algorithm's start. Inside an
  // ExtendedArithmetic scope, which every call of at() needs too.
  BlockStateTrajectory(Trajectory& trajectory, std::int32_t mu, std::int32_t lambda, std::int32_t l)
      : trajectory_(trajectory),
        selection_(mu, lambda, l),
        l_(static_cast<std::size_t>(l)),
        tail_(l_) {
    trajectory_.start();
    trajectory_.copy_parents(checkpoint_);
  }

  // The offspring's tail vector after `generation` generations (>= 1; it
  // never decreases from one call to the next); the span stays valid until
  // the next call. A floating-point failure throws Stop; a stop requested
  // through `cancel` throws Cancelled before the next generation computed.
  std::span<const double> at(std::int64_t generation, const std::stop_token& cancel = {}) {
    while (period_ == 0 && computed_ < generation) advance_one(cancel);
    if (period_ == 0) return tail_;
    const auto k = static_cast<std::size_t>((generation - cycle_start_) % period_);
    return {states_.data() + k * l_, l_};
  }

  // The period found so far (0 while none is known), for tests and benches.
  std::int64_t period() const { return period_; }

 private:
  // Longest period kept, in doubles of recorded tail vectors; a longer
  // cycle is computed through like any other generations.
  static constexpr std::size_t kMaxCycleDoubles = std::size_t{1} << 23;

  // The parents of the next generation (from the last offspring, unless it
  // is the first), their offspring and its tail vector.
  void compute_one(const std::stop_token& cancel) {
    stop_if_cancelled(cancel);
    if (computed_ > 0) {
      trajectory_.select(selection_);
      stop_on_block_state_flags();
    }
    ++computed_;
  }

  void breed() {
    trajectory_.breed();
    selection_.choose(trajectory_.levels());
    stop_on_block_state_flags();
    for (std::size_t j = 0; j < l_; ++j) {
      tail_[j] = round_to_double_or_stop(selection_.tail(static_cast<std::int32_t>(j + 1)));
    }
  }

  void advance_one(const std::stop_token& cancel) {
    compute_one(cancel);
    std::int64_t period = 0;
    if (searching_ && computed_ > 1) {
      ++since_checkpoint_;
      if (trajectory_.parents_equal(checkpoint_)) {
        period = since_checkpoint_;
      } else if (since_checkpoint_ == checkpoint_distance_) {
        trajectory_.copy_parents(checkpoint_);
        since_checkpoint_ = 0;
        checkpoint_distance_ *= 2;
      }
    }
    breed();
    if (period == 0) return;
    searching_ = false;
    checkpoint_ = {};
    if (static_cast<std::size_t>(period) > kMaxCycleDoubles / std::max<std::size_t>(l_, 1)) return;
    // These parents are those of `period` generations ago: from this
    // generation on the tail vectors repeat. One period is recorded, with
    // generations the run would compute anyway.
    states_.resize(static_cast<std::size_t>(period) * l_);
    cycle_start_ = computed_;
    std::copy(tail_.begin(), tail_.end(), states_.begin());
    for (std::int64_t k = 1; k < period; ++k) {
      compute_one(cancel);
      breed();
      std::copy(tail_.begin(), tail_.end(),
                states_.begin() + static_cast<std::ptrdiff_t>(k) * static_cast<std::ptrdiff_t>(l_));
    }
    period_ = period;
  }

  Trajectory& trajectory_;
  LevelSelection selection_;
  std::size_t l_;
  std::vector<double> tail_;
  std::int64_t computed_ = 0;
  // Brent's search: the checkpoint parents, the generations since they were
  // taken and the distance at which they are replaced next.
  std::vector<long double> checkpoint_;
  std::int64_t since_checkpoint_ = 0;
  std::int64_t checkpoint_distance_ = 1;
  bool searching_ = true;
  // Once found: the tail vectors of generations cycle_start_ ..
  // cycle_start_ + period_ - 1, one after another.
  std::int64_t period_ = 0;
  std::int64_t cycle_start_ = 0;
  std::vector<double> states_;
};

}  // namespace blocklevels
