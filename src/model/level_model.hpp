// The level model prepared for one mutation: everything that depends only
// on Pmut, the block shape, the number of blocks and the arithmetic (the
// literal evaluation's rounded cumulative matrix, or the accurate
// evaluation's point transitions), built once and run for any mu, lambda
// and report times. A study's points or a search's steps that share those
// parameters can share one prepared model; run() changes nothing in it,
// so threads may run it at the same time.
#pragma once

#include <cstdint>
#include <optional>
#include <stop_token>

#include "model/level_matrix.hpp"
#include "model/model_run.hpp"
#include "model/point_transitions.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// The parameters a prepared model depends on.
struct MutationParameters {
  long double Pmut = 0.0L;
  std::int32_t block_length = 0;
  std::int32_t two_option_positions = 0;
  std::int32_t blocks = 0;
  Arithmetic arithmetic = Arithmetic::literal;
};

MutationParameters mutation_parameters(const PointParameters& p);

// Equal when a model prepared for one serves the other: Pmut compared bit
// for bit (0 and -0 differ, as the literal matrix may).
bool same_mutation(const MutationParameters& a, const MutationParameters& b);

class PreparedLevelModel {
 public:
  // Builds the model for p's mutation parameters (the literal evaluation's
  // matrix exactly as build_transition_matrix does, or the point
  // transitions). Throws Stop as run_model does for the build (205, 207,
  // 200; 203 out of memory) and Cancelled before the next matrix row when
  // `cancel` asks for a stop. Preconditions: blocks >= 1.
  explicit PreparedLevelModel(const PointParameters& p, const std::stop_token& cancel = {});

  const MutationParameters& mutation() const { return mutation_; }

  // A run for p's mu, lambda and report times, from the whole population at
  // level 0, in its own ExtendedArithmetic scope (the sink's calls
  // included): sink.start(), then the reports, as run_model documents. The
  // literal arithmetic gives run_model's values bit for bit. Throws
  // std::invalid_argument when p's mutation parameters are not the
  // prepared ones. Preconditions: step_generations >= 1.
  void run(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel = {}) const;

 private:
  MutationParameters mutation_;
  std::optional<LevelMatrix> matrix_;            // literal
  std::optional<PointTransitions> transitions_;  // accurate
};

}  // namespace blocklevels
