#include "model/block_state_run.hpp"

#include <new>
#include <stdexcept>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/block_state_trajectory.hpp"

namespace blocklevels {
namespace {

std::int32_t state_count(std::int32_t b, std::int32_t acc) {
  return (acc + 1) * (b - acc + 1);
}

template <class Trajectory>
void report_run(Trajectory& trajectory, const PointParameters& p, ModelSink& sink,
                const std::stop_token& cancel) {
  BlockStateTrajectory<Trajectory> generations(trajectory, p.mu, p.lambda, p.blocks);
  bool watching = sink.watches_every_generation();
  std::int64_t shown = 0;  // the last generation the sink has watched
  const std::int64_t reports = report_count(p);
  for (std::int64_t k = 0; k < reports; ++k) {
    const std::int64_t t = report_time(p, k);
    while (watching && shown < t) {
      ++shown;
      watching = sink.generation(shown, generations.at(shown, cancel));
    }
    sink.report(t, generations.at(t, cancel));
  }
}

}  // namespace

long double exact_generation_work(std::int32_t b, std::int32_t acc, std::int32_t l) {
  const std::int32_t s = b - acc;
  const std::int32_t k = state_count(b, acc);
  const long double splits = static_cast<long double>(acc) * (acc + 1) * (s + 1) +
                             static_cast<long double>(s) * (s + 1) * (acc + 1);
  const long double size = CompositionSpace::size_of(k, l);
  return size * (splits * (1 + static_cast<long double>(l) / k) + 1);
}

BlockStateMethod chosen_method(std::int32_t b, std::int32_t acc, std::int32_t l) {
  if (b == 1 || l == 1) return BlockStateMethod::independent_blocks;
  const std::int32_t k = state_count(b, acc);
  const bool cheap = CompositionSpace::size_of(k, l) <= kExactCompositionLimit &&
                     exact_generation_work(b, acc, l) <= kExactWorkLimit;
  return cheap ? BlockStateMethod::exact : BlockStateMethod::independent_blocks;
}

BlockStateMutation::BlockStateMutation(long double pmut, std::int32_t b, std::int32_t acc,
                                       std::int32_t l, BlockStateMethod method)
    : pmut_(pmut),
      b_(b),
      acc_(acc),
      l_(l),
      method_(method == BlockStateMethod::automatic ? chosen_method(b, acc, l) : method) {
  const ExtendedArithmetic arithmetic;
  if (!(pmut >= 0.0L && pmut <= 1.0L)) throw_stop(kInvalidOperation);
  try {
    const BlockStates states(pmut, b, acc);
    if (method_ == BlockStateMethod::exact) {
      exact_ = std::make_shared<const CompositionMutation>(states, l);
    } else {
      independent_ = std::make_shared<const IndependentBlocksMutation>(states, l);
    }
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
  stop_on_block_state_flags();
}

void run_block_state_model(const BlockStateMutation& mutation, const PointParameters& p,
                           ModelSink& sink, const std::stop_token& cancel) {
  if (p.Pmut != mutation.pmut() || p.block_length != mutation.block_length() ||
      p.two_option_positions != mutation.two_option_positions() || p.blocks != mutation.blocks()) {
    throw std::invalid_argument("run_block_state_model: the mutation was built for another point");
  }
  const ExtendedArithmetic arithmetic;
  try {
    // With lambda = 0 the first generation's selection divides by zero (0/0
    // when mu = 0 too), before its report: as in the level model, which
    // selects from the start first.
    sink.start(p.step_generations);
    if (mutation.exact() != nullptr) {
      CompositionTrajectory trajectory(*mutation.exact());
      report_run(trajectory, p, sink, cancel);
    } else {
      IndependentBlocksTrajectory trajectory(*mutation.independent());
      report_run(trajectory, p, sink, cancel);
    }
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  }
}

void run_block_state_model(const PointParameters& p, ModelSink& sink,
                           const std::stop_token& cancel) {
  const BlockStateMutation mutation(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
  run_block_state_model(mutation, p, sink, cancel);
}

}  // namespace blocklevels
