// Counts the generations a run really computes: a run stops computing once
// the tail vector recurs bit for bit (a fixed point or a cycle).
//
//   blocklevels_steady_count LAMBDA PMUT B ACC L MU GENERATIONS
//
// prints the number of generations computed out of GENERATIONS, the period
// found (0 for none), and the mean number of levels per computed generation
// whose selection shortfall is not 0 (the levels a generation sums over).
#include <cstdint>
#include <cstdio>

#include "arithmetic/extended_arithmetic.hpp"
#include "model/generation.hpp"
#include "model/tail_trajectory.hpp"
#include "model/transition_model.hpp"
#include "text/number_text.hpp"

namespace {

bool integer_argument(const char* text, std::int32_t& value) {
  const blocklevels::IntegerParse parsed = blocklevels::parse_integer_token(text);
  value = parsed.value;
  return parsed.valid;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace blocklevels;
  if (argc != 8) {
    std::fprintf(stderr, "usage: %s LAMBDA PMUT B ACC L MU GENERATIONS\n", argv[0]);
    return 2;
  }
  std::int32_t lambda = 0, b = 0, acc = 0, l = 0, mu = 0, generations = 0;
  const RealParse pmut = parse_real_token(argv[2]);
  if (!integer_argument(argv[1], lambda) || !pmut.valid || !integer_argument(argv[3], b) ||
      !integer_argument(argv[4], acc) || !integer_argument(argv[5], l) ||
      !integer_argument(argv[6], mu) || !integer_argument(argv[7], generations) || l < 1 ||
      lambda < 1) {
    std::fprintf(stderr, "%s: invalid argument\n", argv[0]);
    return 2;
  }
  const ExtendedArithmetic arithmetic;
  const LevelMatrix m = build_transition_matrix(pmut.value, b, acc, l);
  // The trajectory's own count of computed generations is not exposed, so
  // the plain steps are counted alongside, up to the point the trajectory
  // would stop computing: the generation where it knows the period, plus the
  // period it records.
  TailTrajectory trajectory(m, mu, lambda);
  GenerationStep step(m, mu, lambda);
  std::vector<double> tail(static_cast<std::size_t>(l));
  std::int64_t computed = 0, active = 0;
  while (computed < generations) {
    trajectory.at(computed + 1);
    for (const double y : tail) active += selection_shortfall(mu, lambda, y) != 0 ? 1 : 0;
    step.advance(tail.data());
    ++computed;
    if (trajectory.period() != 0) {
      computed += trajectory.period() - 1;
      break;
    }
  }
  if (computed > generations) computed = generations;
  const double mean_active =
      computed > 0 ? static_cast<double>(active) / static_cast<double>(computed) : 0.0;
  std::printf("%lld %lld %.1f\n", static_cast<long long>(computed),
              static_cast<long long>(trajectory.period()), mean_active);
  return 0;
}
