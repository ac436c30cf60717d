#include "model/model_run.hpp"

#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"

namespace blocklevels {

void run_model(const RunParameters& p, ModelSink& sink) {
  const LevelMatrix m =
      build_transition_matrix(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
  const std::int64_t step = p.step_generations;
  sink.start(step);
  TailTrajectory trajectory(m, p.mu, p.lambda);
  const std::int64_t reports = report_count(p);
  for (std::int64_t k = 1; k <= reports; ++k) {
    const std::int64_t t = k * step;
    sink.report(t, trajectory.at(t));
  }
}

}  // namespace blocklevels
