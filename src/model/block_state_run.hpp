// A run of the block-state model: the infinite-population limit of the real
// algorithm (simulation/), describing an individual by the states of its
// blocks (block_states.hpp) instead of its level alone. Two evaluations:
//  - exact: the distribution over compositions, how many blocks are in
//    each state (composition_model.hpp); C(l + K - 1, K - 1) of them for K
//    block states, so feasible for few blocks only;
//  - independent blocks: blocks independent given the level, one state
//    distribution per level (independent_blocks_model.hpp); any l.
// Both compute every value as sums of non-negative terms in extended
// precision, so that tiny fractions keep their relative precision.
//
// The mutation part (Pmut, b, acc, l) is built once, in a BlockStateMutation,
// and can be shared, read only, by the runs of points that differ in mu,
// lambda and their report times, on any threads.
#pragma once

#include <cstdint>
#include <memory>
#include <stop_token>

#include "model/composition_model.hpp"
#include "model/independent_blocks_model.hpp"
#include "model/model_run.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

enum class BlockStateMethod : std::uint8_t {
  automatic,           // exact where it is cheap enough (exact_is_cheap), else independent blocks
  exact,               // compositions, whatever they cost
  independent_blocks,  // the approximation, for any l
};

// Work of one exact generation, in composition steps: the binomial splits
// times the compositions times the blocks each split moves on average,
// (1 + l / K). Measured: 6.5e6 steps (l = 30, b = 4) in 16 to 19 ms, so
// 2^26 steps take about 0.2 s.
long double exact_generation_work(std::int32_t b, std::int32_t acc, std::int32_t l);
inline constexpr long double kExactWorkLimit = 0x1p26L;
inline constexpr long double kExactCompositionLimit = 0x1p22L;

// What `automatic` chooses: independent blocks when they are exact (b = 1
// or l = 1), else exact when the compositions number at most 2^22 and a
// generation's work is at most 2^26, else independent blocks.
BlockStateMethod chosen_method(std::int32_t b, std::int32_t acc, std::int32_t l);

class BlockStateMutation {
 public:
  // Builds the mutation part in its own ExtendedArithmetic scope.
  // Preconditions: b >= 1, 0 <= acc <= b, l >= 1. A Pmut outside [0, 1]
  // (or NaN) would make the per-position probabilities negative: it throws
  // Stop 207 (invalid operation). Exact compositions that do not fit in
  // memory throw Stop 203.
  BlockStateMutation(long double pmut, std::int32_t b, std::int32_t acc, std::int32_t l,
                     BlockStateMethod method = BlockStateMethod::automatic);

  long double pmut() const { return pmut_; }
  std::int32_t block_length() const { return b_; }
  std::int32_t two_option_positions() const { return acc_; }
  std::int32_t blocks() const { return l_; }
  // exact or independent_blocks, never automatic.
  BlockStateMethod method() const { return method_; }

  // Exactly one of the two is set, as method() says.
  const CompositionMutation* exact() const { return exact_.get(); }
  const IndependentBlocksMutation* independent() const { return independent_.get(); }

 private:
  long double pmut_;
  std::int32_t b_, acc_, l_;
  BlockStateMethod method_;
  std::shared_ptr<const CompositionMutation> exact_;
  std::shared_ptr<const IndependentBlocksMutation> independent_;
};

// Iterates the block-state model from the algorithm's start (mu parents at
// level 0, every block lacking one allele) and reports the offspring's
// tail vector at every report time, with the calls and the order of
// run_model (model_run.hpp): start(), then every generation to a watching
// sink and every report, all in one ExtendedArithmetic scope. Once the
// parents of a generation recur value for value, later generations are not
// computed but repeated (block_state_trajectory.hpp).
// Stops: lambda = 0 stops in the first generation, before its report, with
// 200 (207 when mu = 0 too), as the level model does; a floating-point overflow 205, a
// division by zero 200, an invalid operation 207; out of memory 203. A stop
// requested through `cancel` throws Cancelled at the next generation. What
// the sink throws passes through unchanged.
// Preconditions: p's Pmut, block length, two-option positions and blocks
// are the mutation's (else std::invalid_argument), step_generations >= 1.
void run_block_state_model(const BlockStateMutation& mutation, const PointParameters& p,
                           ModelSink& sink, const std::stop_token& cancel = {});

// The same with the mutation part built for p, by the automatic choice.
void run_block_state_model(const PointParameters& p, ModelSink& sink,
                           const std::stop_token& cancel = {});

}  // namespace blocklevels
