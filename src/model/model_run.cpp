#include "model/model_run.hpp"

#include <new>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"

namespace blocklevels {

void run_model(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel) {
  const ExtendedArithmetic arithmetic;
  try {
    const LevelMatrix m =
        build_transition_matrix(p.Pmut, p.block_length, p.two_option_positions, p.blocks, cancel);
    const std::int64_t step = p.step_generations;
    sink.start(step);
    TailTrajectory trajectory(m, p.mu, p.lambda);
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
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

}  // namespace blocklevels
