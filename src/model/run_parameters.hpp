// What a run computes: the model's parameters and the report times. Integers
// are 32-bit signed; Pmut is extended.
#pragma once

#include <cstdint>

#include "runtime/extended_real.hpp"

namespace blocklevels {

struct RunParameters {
  std::int32_t lambda = 0;                // offspring per generation
  long double Pmut = 0.0L;                // allele mutation probability
  std::int32_t block_length = 0;          // b
  std::int32_t two_option_positions = 0;  // acc
  std::int32_t blocks = 0;                // l; at least 1
  std::int32_t final_iteration = 0;
  std::int32_t step_generations = 0;  // at least 1
  std::int32_t mu = 0;                // selected parents
};

// Reports come at t = step, 2 step, ..., the last multiple of the step not
// above the final iteration, and always at t = step, even when the final
// iteration is smaller. t is 64-bit: the time after the last report may
// pass the 32-bit range.
inline std::int64_t report_count(const RunParameters& p) {
  const std::int64_t count = p.final_iteration / p.step_generations;
  return count < 1 ? 1 : count;
}

}  // namespace blocklevels
