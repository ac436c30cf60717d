// The reports of a model run from its trajectory, the same for both models:
// the tails at every report time, and, to a sink that watches every
// generation, each generation up to the final one (past the last report
// when the final generation is not a report time, and not past the final
// generation when the first report comes after it), before the report of
// the same generation.
#pragma once

#include <algorithm>
#include <cstdint>
#include <stop_token>

#include "model/model_run.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// `trajectory.at(t, cancel)` gives the tails after t generations, t never
// decreasing from one call to the next.
template <class Trajectory>
void run_reports(const PointParameters& p, Trajectory& trajectory, ModelSink& sink,
                 const std::stop_token& cancel) {
  const std::int64_t reports = report_count(p);
  const std::int64_t final = p.final_iteration;
  bool watching = sink.watches_every_generation();
  std::int64_t shown = 0;  // the last generation the sink has watched
  const auto watch_until = [&](std::int64_t t) {
    while (watching && shown < std::min(t, final)) {
      ++shown;
      watching = sink.generation(shown, trajectory.at(shown, cancel));
    }
  };
  for (std::int64_t k = 0; k < reports; ++k) {
    const std::int64_t t = report_time(p, k);
    watch_until(t);
    sink.report(t, trajectory.at(t, cancel));
  }
  watch_until(final);
}

}  // namespace blocklevels
