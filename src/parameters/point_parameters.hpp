// One point's parameters: what the model computes and what the simulation
// simulates, and the report times both share. Integers are 32-bit signed,
// as the dialogue reads them; Pmut is extended.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// How a model generation is evaluated. `literal` forms each generation from
// differences of the stored cumulative matrix, in the dialogue's order, bit
// for bit; `accurate` computes the same mathematical model from point
// probabilities as sums of positive terms, so that values far below 1e-16
// of their neighbours keep their relative precision.
enum class Arithmetic : std::uint8_t { accurate, literal };

// Which model of the algorithm: `level` describes an individual by its
// number of complete blocks alone; `block_state` also by the states of its
// incomplete blocks.
enum class ModelKind : std::uint8_t { level, block_state };

struct PointParameters {
  std::int32_t lambda = 0;                // offspring per generation
  std::int32_t mu = 0;                    // selected parents
  long double Pmut = 0.0L;                // allele mutation probability
  std::int32_t block_length = 0;          // b
  std::int32_t two_option_positions = 0;  // acc: positions per block with two acceptable alleles
  std::int32_t blocks = 0;                // l: the top level; at least 1
  std::int32_t final_iteration = 0;       // the last generation
  std::int32_t step_generations = 0;      // generations between reports; at least 1
  // The dialogue's model and evaluation unless a front end chooses others.
  Arithmetic arithmetic = Arithmetic::literal;
  ModelKind model = ModelKind::level;
};

// The real parameters: each keeps beside its value the text it was given
// as (typed, or as a range wrote it), which is how tables and labels show
// it. The parameter table gives each real its slot.
inline constexpr std::size_t kRealParameters = 1;

// A point as a study names it: the parameters and the reals' texts.
struct Point {
  PointParameters p;
  std::array<std::string, kRealParameters> real_texts;
};

// Reports come at t = step, 2 step, ..., the last multiple of the step not
// above the final iteration, and always at t = step, even when the final
// iteration is smaller. Precondition: step_generations >= 1.
inline std::int64_t report_count(const PointParameters& p) {
  const std::int64_t count = p.final_iteration / p.step_generations;
  return count < 1 ? 1 : count;
}

// The generation of report `report` (0-based). 64-bit: the product stays
// at or below the final iteration (or is the step), but the time after the
// last report may pass the 32-bit range.
inline std::int64_t report_time(const PointParameters& p, std::int64_t report) {
  return (report + 1) * static_cast<std::int64_t>(p.step_generations);
}

// The generation of the last report.
inline std::int64_t last_report_time(const PointParameters& p) {
  return report_time(p, report_count(p) - 1);
}

}  // namespace blocklevels
