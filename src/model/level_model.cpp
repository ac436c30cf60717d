#include "model/level_model.hpp"

#include <cstring>
#include <new>
#include <stdexcept>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/extended_bits.hpp"
#include "model/point_trajectory.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"
#include "model/transition_terms.hpp"

namespace blocklevels {
namespace {

// The reports of a run: a trajectory's tails at every report time, and at
// every generation before it while the sink watches them.
template <typename Trajectory>
void report(const PointParameters& p, Trajectory& trajectory, ModelSink& sink,
            const std::stop_token& cancel) {
  const std::int64_t reports = report_count(p);
  bool watching = sink.watches_every_generation();
  std::int64_t shown = 0;  // the last generation the sink has watched
  for (std::int64_t k = 0; k < reports; ++k) {
    const std::int64_t t = report_time(p, k);
    while (watching && shown < t) {
      ++shown;
      watching = sink.generation(shown, trajectory.at(shown, cancel));
    }
    sink.report(t, trajectory.at(t, cancel));
  }
}

}  // namespace

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
      report(p, trajectory, sink, cancel);
    } else {
      PointTrajectory trajectory(*transitions_, p.mu, p.lambda);
      report(p, trajectory, sink, cancel);
    }
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

}  // namespace blocklevels
