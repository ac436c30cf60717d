// The parameters of a simulated (mu, lambda) run and the generations at which
// it reports: t = step, 2 step, ..., the last multiple of step not above final,
// or t = step alone when final < step.
#pragma once

#include <cassert>
#include <cstdint>

namespace blocklevels::simulation {

struct SimulationParams {
  std::int32_t lambda = 1;        // offspring per generation
  std::int32_t mu = 1;            // parents kept per generation
  long double pmut = 0.0L;        // probability that a position mutates
  std::int32_t block_length = 1;  // positions per block
  std::int32_t two_option = 0;    // leading positions of a block that also accept allele 1
  std::int32_t blocks = 1;        // blocks per chromosome, the highest level
  std::int64_t final_generation = 1;
  std::int64_t step = 1;
};

// The caller validates the parameters; debug builds check them here.
inline void assert_valid(const SimulationParams& p) {
  assert(p.lambda >= 1 && p.mu >= 1 && p.mu <= p.lambda);
  assert(p.pmut >= 0.0L && p.pmut <= 1.0L);
  assert(p.block_length >= 1 && p.two_option >= 0 && p.two_option <= p.block_length);
  assert(p.blocks >= 1 && p.step >= 1);
  static_cast<void>(p);
}

inline std::int64_t report_count(const SimulationParams& p) {
  return p.final_generation < p.step ? 1 : p.final_generation / p.step;
}

// report is 0-based; the product stays below final (or equals step), so it
// cannot overflow.
inline std::int64_t report_generation(const SimulationParams& p, std::int64_t report) {
  return (report + 1) * p.step;
}

}  // namespace blocklevels::simulation
