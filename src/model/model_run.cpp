#include "model/model_run.hpp"

#include <stdexcept>

#include "model/level_model.hpp"

namespace blocklevels {

void run_model(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel) {
  switch (p.model) {
    case ModelKind::level:
      PreparedLevelModel(p, cancel).run(p, sink, cancel);
      return;
    case ModelKind::block_state:
      break;  // its model is not part of the program yet
  }
  throw std::invalid_argument("run_model: the block-state model is not available");
}

}  // namespace blocklevels
