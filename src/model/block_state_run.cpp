#include "model/block_state_run.hpp"

#include <limits>
#include <new>
#include <stdexcept>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/block_state_trajectory.hpp"
#include "model/run_reports.hpp"

namespace blocklevels {
namespace {

// K = (acc + 1)(b - acc + 1), in extended precision: for long blocks it
// passes the 32-bit range.
long double state_count(std::int32_t b, std::int32_t acc) {
  return (static_cast<long double>(acc) + 1) * (static_cast<long double>(b - acc) + 1);
}

// More block states than this never make an exact evaluation feasible (its
// compositions number at least K), and are not counted in 32 bits.
constexpr long double kManyStates = 0x1p24L;

template <class Trajectory>
void report_run(Trajectory& trajectory, const PointParameters& p, ModelSink& sink,
                const std::stop_token& cancel) {
  BlockStateTrajectory<Trajectory> generations(trajectory, p.mu, p.lambda, p.blocks);
  run_reports(p, generations, sink, cancel);
}

}  // namespace

long double exact_generation_work(std::int32_t b, std::int32_t acc, std::int32_t l) {
  const long double k = state_count(b, acc);
  if (k > kManyStates) return std::numeric_limits<long double>::infinity();
  const long double s = static_cast<long double>(b - acc);
  const long double a = static_cast<long double>(acc);
  const long double splits = a * (a + 1) * (s + 1) + s * (s + 1) * (a + 1);
  const long double size = CompositionSpace::size_of(static_cast<std::int32_t>(k), l);
  return size * (splits * (1 + static_cast<long double>(l) / k) + 1);
}

BlockStateMethod chosen_method(std::int32_t b, std::int32_t acc, std::int32_t l) {
  if (b == 1 || l == 1) return BlockStateMethod::independent_blocks;
  const long double k = state_count(b, acc);
  const bool cheap =
      k <= kManyStates &&
      CompositionSpace::size_of(static_cast<std::int32_t>(k), l) <= kExactCompositionLimit &&
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
  } catch (const std::length_error&) {  // a table beyond what a vector can hold
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
