// A sweep: every parameter's values, and the points they make, the
// Cartesian product in the parameter table's order. The command line reads
// its options' texts into values here, and the Python package its
// arguments, so both take and refuse the same values with the same
// messages. A refusal throws Failure (status 2) whose message
// starts with the option's name.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "parameters/parameter_table.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// The most points one sweep may have.
inline constexpr std::int64_t kMaxPoints = 100000;

// One parameter's values, each with its text (how tables show it). With
// `ratio_of` (mu given as a ratio of lambda) the numbers are ratios, and
// each point's value is the nearest integer to the ratio times its value
// of that parameter (halves away from zero).
struct ParameterValues {
  std::vector<long double> numbers;
  std::vector<std::string> texts;
  const ParameterDescription* ratio_of = nullptr;
  std::string ratio_name;  // "--mu-ratio" or "mu_ratio", for refusals
};

// Parameters whose lists advance together instead of forming a product:
// each list as long as the others, the group taking the place of its
// first parameter in the table's order. `name` is the setting's, for
// refusals ("--zip" or "zip").
struct Zip {
  std::vector<const ParameterDescription*> parameters;
  std::string name;
};

// The values of `text` as the parameter's option reads it (one value, a
// list or a range; sweep/option_values.hpp), each checked against the
// parameter's own rules.
ParameterValues parameter_values(const ParameterDescription& parameter, std::string_view text,
                                 Spelling spelling = Spelling::option);

// Refuses the first value outside the parameter's own rules.
void check_values(const ParameterDescription& parameter, const ParameterValues& values,
                  Spelling spelling = Spelling::option);

struct SweepPoints {
  // The Cartesian product (zipped lists as one), the table's first
  // parameter varying slowest.
  std::vector<Point> points;
  // The parameters with more than one value, by name, in table order.
  std::vector<std::string> swept;
  std::int32_t max_blocks = 0;  // the largest `blocks` of all points
};

// The points of `values`, one entry per row of the parameter table in its
// order, each value already checked on its own. Refuses a zip of lists of
// unequal lengths, of a parameter named twice or taking one value; a
// product of more than kMaxPoints points; a ratio that gives a value
// below the parameter's lowest; and a point whose value breaks the bound
// another parameter sets (mu above lambda).
SweepPoints expand_sweep(std::span<const ParameterValues> values,
                         Spelling spelling = Spelling::option, const Zip& zip = {});

}  // namespace blocklevels
