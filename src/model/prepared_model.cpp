#include "model/prepared_model.hpp"

#include <cstring>

#include "arithmetic/out_of_memory.hpp"

namespace blocklevels {
namespace {

std::variant<PreparedLevelModel, BlockStateMutation> prepared(const PointParameters& p,
                                                              const std::stop_token& cancel) {
  return stop_when_out_of_memory([&]() -> std::variant<PreparedLevelModel, BlockStateMutation> {
    if (p.model == ModelKind::block_state) {
      return BlockStateMutation(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
    }
    return PreparedLevelModel(p, cancel);
  });
}

}  // namespace

bool same_preparation(const PointParameters& a, const PointParameters& b) {
  return a.model == b.model && a.arithmetic == b.arithmetic &&
         std::memcmp(&a.Pmut, &b.Pmut, 10) == 0 && a.block_length == b.block_length &&
         a.two_option_positions == b.two_option_positions && a.blocks == b.blocks;
}

PreparedModel::PreparedModel(const PointParameters& p, const std::stop_token& cancel)
    : shape_(p), model_(prepared(p, cancel)) {}

bool PreparedModel::serves(const PointParameters& p) const {
  return same_preparation(shape_, p);
}

void PreparedModel::run(const PointParameters& p, ModelSink& sink,
                        const std::stop_token& cancel) const {
  if (const auto* level = std::get_if<PreparedLevelModel>(&model_)) {
    level->run(p, sink, cancel);
  } else {
    run_block_state_model(std::get<BlockStateMutation>(model_), p, sink, cancel);
  }
}

}  // namespace blocklevels
