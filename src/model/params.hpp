// The run's parameters: the dialogue's answers and the values derived from
// them. Integers are 32-bit signed; Pmut is extended.
#pragma once

#include <cstdint>
#include <string>

#include "model/extended_real.hpp"

namespace blocklevels {

struct Params {
  std::int32_t lambda = 0;
  long double Pmut = 0.0L;
  std::int32_t block_length = 0;          // b
  std::int32_t two_option_positions = 0;  // acc
  std::int32_t blocks = 0;                // l
  std::int32_t chromosome_length = 0;     // l * b, wrapped to 32 bits
  std::int32_t final_iteration = 0;
  std::int32_t step_generations = 0;
  std::int32_t mu = 0;
  std::int32_t first_report = 0;
  std::string output_file_name;
  // The open output file is the run-wide stream runtime::output_file().
};

}  // namespace blocklevels
