// The block-state model's tail vector generation by generation, without
// computing generations whose result is already known. The offspring of a
// generation depend on its parents alone, so once the parents recur value
// for value, every later generation repeats those in between
// (RecurringTrajectory).
//
// Trajectory is CompositionTrajectory or IndependentBlocksTrajectory: start(),
// breed(), levels(), select(), copy_parents(), parents_equal().
#pragma once

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
#include "model/recurring_trajectory.hpp"

namespace blocklevels {

// A division by zero comes first: its infinity is what an invalid
// operation or an overflow would be made of afterwards.
inline void stop_on_block_state_flags() {
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
  if (raised.overflow) throw_stop(kFloatOverflow);
}

// A block-state model's trajectory as RecurringTrajectory's Generations:
// the parents are the state compared (value for value, by the model), the
// offspring's tail vector the values reported. Generation 1's parents are
// the start itself, so the search compares from generation 2 on.
template <class Trajectory>
class BlockStateGenerations {
 public:
  using Checkpoint = std::vector<long double>;
  static constexpr std::int64_t kFirstCompared = 2;

  // Starts `trajectory` at the algorithm's start. Inside an
  // ExtendedArithmetic scope, which every generation needs too.
  BlockStateGenerations(Trajectory& trajectory, std::int32_t mu, std::int32_t lambda,
                        std::int32_t l)
      : trajectory_(trajectory), selection_(mu, lambda, l), tail_(static_cast<std::size_t>(l)) {
    trajectory_.start();
  }

  void keep(Checkpoint& to) const { trajectory_.copy_parents(to); }
  bool matches(const Checkpoint& saved) const { return trajectory_.parents_equal(saved); }

  // The parents of the next generation (from the last offspring, unless it
  // is the first). A floating-point failure throws Stop.
  bool compute(const std::stop_token& cancel) {
    stop_if_cancelled(cancel);
    if (computed_ > 0) {
      trajectory_.select(selection_);
      stop_on_block_state_flags();
    }
    ++computed_;
    return false;
  }

  // Their offspring and its tail vector. Breeding may overwrite the parents
  // (the exact model mutates them in place): they are compared before.
  void finish() {
    trajectory_.breed();
    selection_.choose(trajectory_.levels());
    stop_on_block_state_flags();
    for (std::size_t j = 0; j < tail_.size(); ++j) {
      tail_[j] = round_to_double_or_stop(selection_.tail(static_cast<std::int32_t>(j + 1)));
    }
  }

  std::span<const double> reported() const { return tail_; }

 private:
  Trajectory& trajectory_;
  LevelSelection selection_;
  std::vector<double> tail_;
  std::int64_t computed_ = 0;
};

// at(generation, cancel): the offspring's tail vector after `generation`
// generations (>= 1).
template <class Trajectory>
using BlockStateTrajectory = RecurringTrajectory<BlockStateGenerations<Trajectory>>;

}  // namespace blocklevels
