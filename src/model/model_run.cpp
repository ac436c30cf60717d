#include "model/model_run.hpp"

#include "model/prepared_model.hpp"

namespace blocklevels {

void run_model(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel) {
  PreparedModel(p, cancel).run(p, sink, cancel);
}

}  // namespace blocklevels
