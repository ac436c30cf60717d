#include "model/level_model.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/extended_bits.hpp"
#include "model/point_trajectory.hpp"
#include "model/run_reports.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"
#include "model/transition_terms.hpp"

namespace blocklevels {
namespace {}  // namespace

MutationParameters mutation_parameters(const PointParameters& p) {
  return {p.Pmut, p.block_length, p.two_option_positions, p.blocks, p.arithmetic};
}

bool same_mutation(const MutationParameters& a, const MutationParameters& b) {
  return std::memcmp(&a.Pmut, &b.Pmut, kExtendedValueBytes) == 0 &&
         a.block_length == b.block_length && a.two_option_positions == b.two_option_positions &&
         a.blocks == b.blocks && a.arithmetic == b.arithmetic;
}

PreparedLevelModel::PreparedLevelModel(const PointParameters& p, const std::stop_token& cancel)
    : mutation_(mutation_parameters(p)) {
  const ExtendedArithmetic arithmetic;
  try {
    switch (p.arithmetic) {
      case Arithmetic::literal:
        matrix_.emplace(build_transition_matrix(p.Pmut, p.block_length, p.two_option_positions,
                                                p.blocks, cancel));
        break;
      case Arithmetic::accurate:
        transitions_.emplace(build_point_transitions(p.Pmut, p.block_length, p.two_option_positions,
                                                     p.blocks, cancel));
        break;
    }
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

void PreparedLevelModel::run(const PointParameters& p, ModelSink& sink,
                             const std::stop_token& cancel) const {
  if (!same_mutation(mutation_parameters(p), mutation_)) {
    throw std::invalid_argument("PreparedLevelModel::run: another mutation than the prepared one");
  }
  const ExtendedArithmetic arithmetic;
  try {
    sink.start(p.step_generations);
    if (matrix_) {
      TailTrajectory trajectory(*matrix_, p.mu, p.lambda);
      run_reports(p, trajectory, sink, cancel);
    } else {
      PointTrajectory trajectory(*transitions_, p.mu, p.lambda);
      run_reports(p, trajectory, sink, cancel);
    }
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

}  // namespace blocklevels
