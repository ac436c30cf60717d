// What a model run builds before its generations, for either model: the
// level model's matrix or point transitions (level_model.hpp), or the
// block-state model's mutation part (block_state_run.hpp). It depends on the
// parameters that shape the matrix only (the parameter table's flag: Pmut,
// the block shape, the blocks, the model and the arithmetic), not on mu,
// lambda or the report times: the points of a study and the steps of a
// search that share those share one, read only, on any threads.
#pragma once

#include <memory>
#include <stop_token>
#include <variant>

#include "model/block_state_run.hpp"
#include "model/level_model.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// Whether a model prepared for `a` serves `b`: the same model, arithmetic
// and mutation (Pmut to the bit: 0 and -0 may build different literal
// matrices).
bool same_preparation(const PointParameters& a, const PointParameters& b);

class PreparedModel {
 public:
  // Builds it for p, with the stops of run_model (model_run.hpp).
  explicit PreparedModel(const PointParameters& p, const std::stop_token& cancel = {});

  // Whether it serves p: p's model, arithmetic and mutation are its own.
  bool serves(const PointParameters& p) const;

  // A run of p from the whole population at level 0, as run_model runs it.
  // Precondition: serves(p).
  void run(const PointParameters& p, ModelSink& sink, const std::stop_token& cancel = {}) const;

 private:
  PointParameters shape_;  // the parameters it was built for
  std::variant<PreparedLevelModel, BlockStateMutation> model_;
};

// Where a run gets its prepared model when one may already be built (a
// cache shared by a study's points, above this layer). The model given
// serves p and stays valid as long as the pointer is held, whatever the
// source does meanwhile. Throws what building it throws (Stop, Cancelled).
class ModelSource {
 public:
  virtual std::shared_ptr<const PreparedModel> prepared(const PointParameters& p,
                                                        const std::stop_token& cancel) = 0;

 protected:
  ~ModelSource() = default;
};

}  // namespace blocklevels
