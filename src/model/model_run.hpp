// A run of the level model: parameters in, the tail vector at every report
// time out to a sink, or a Stop out. No I/O, no state beyond the call, and
// nothing process-wide touched: the floating-point environment is the
// caller's again when it returns or throws.
#pragma once

#include <cstdint>
#include <span>
#include <stop_token>

#include "parameters/point_parameters.hpp"

namespace blocklevels {

// Receives what a model run produces, in this order: start() once the
// transition matrix is built, then report() at every report time.
class ModelSink {
 public:
  // `first_report` is the time of the first report (the step).
  virtual void start(std::int64_t first_report) = 0;
  // tail[j - 1] = expected fraction of the offspring at level >= j after t
  // generations, j = 1..l. The span is valid during the call only.
  virtual void report(std::int64_t t, std::span<const double> tail) = 0;
  // A sink that watches every generation (a hitting time, say) is shown
  // each one, t = 1, 2, ..., before its report when t is a report time,
  // until it returns false.
  virtual bool watches_every_generation() const { return false; }
  virtual bool generation(std::int64_t /*t*/, std::span<const double> /*tail*/) { return false; }

 protected:
  ~ModelSink() = default;
};

// Builds the model p.model names (prepared_model.hpp), then iterates it
// from the start and reports the tails at every report time, each part in
// an ExtendedArithmetic scope (the sink's calls included). For the level
// model p.arithmetic chooses the evaluation (level_model.hpp): `literal`,
// the dialogue's, bit for bit, or `accurate`, the same model without
// cancellation; the block-state model (block_state_run.hpp) has one, as
// accurate. A sink that watches every generation is shown each one up to
// the final generation, past the last report when the final generation is
// not a report time. A failure throws Stop: 205 overflow, 200 division by
// zero, 207 invalid operation, 203 out of memory. What the sink throws
// passes through unchanged. A stop requested through `cancel` throws
// Cancelled at the next matrix row or generation. Preconditions: blocks >=
// 1, step_generations >= 1.
void run_model(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel = {});

}  // namespace blocklevels
