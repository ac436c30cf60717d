// Every parameter of a point, described once: its name (the CSV column and
// merge's key, the key of a summary line, a figure's label), its option, whether it is an
// integer or a real, what values it may take, and where in PointParameters
// it lives. The options, the CSV header and rows, summary lines, figure
// labels and titles, and merge's keys are all made from this table. A new
// parameter is one row here plus its use in the arithmetic.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "parameters/point_parameters.hpp"

namespace blocklevels {

enum class ParameterKind { integer, real };

// The most blocks the model can take: 1755! is beyond the extended range,
// so from 1755 blocks on every run overflows building its matrix.
inline constexpr std::int32_t kMaxBlocks = 1754;

struct ParameterDescription {
  std::string_view name;        // "lambda": the CSV column and the summary key
  std::string_view option;      // "--lambda"
  std::string_view value_name;  // "N": the value's name in the option's help
  std::string_view meaning;     // the option's help
  ParameterKind kind;
  std::string_view default_text;  // "" when the option must be given
  // Integers: from `lowest` to `highest` (with the reason for that limit),
  // and at most the parameter named by `at_most` ("" for none). Reals: from
  // `real_lowest` to `real_highest`.
  std::int32_t lowest = 0;
  std::int32_t highest = INT32_MAX;
  std::string_view why_highest = {};
  std::string_view at_most = {};
  long double real_lowest = 0.0L;
  long double real_highest = 0.0L;
  // Shown in a figure's title when every point shares it (the generations
  // show on the figure's axis instead).
  bool in_title = true;
  // The field, for integers; Pmut is the one real.
  std::int32_t PointParameters::*integer = nullptr;
};

// In the order of the options, the CSV columns and summary lines. A sweep's
// Cartesian product varies the first slowest.
std::span<const ParameterDescription> parameter_table();

// The description of the parameter called `name`, or nullptr.
const ParameterDescription* find_parameter(std::string_view name);

// The value as text: integers in decimal, Pmut as the point names it.
std::string parameter_text(const Point& point, const ParameterDescription& parameter);

// The value as a number.
long double parameter_value(const PointParameters& p, const ParameterDescription& parameter);

// Why a value is refused for `parameter` on its own, as "--lambda: 0 is
// below 1" (`text` is the value as given), or "" when it is valid.
std::string value_refusal(const ParameterDescription& parameter, long double value,
                          std::string_view text);

// Why the point's value of `parameter` is refused by the parameter that
// bounds it, as "--mu: 20 is above --lambda 10", or "".
std::string bound_refusal(const Point& point, const ParameterDescription& parameter);

// Sets the parameter's field; an integer parameter takes `value` as it is
// (the caller passes an integer in the 32-bit range), Pmut takes `value`
// and `text`.
void set_parameter(Point& point, const ParameterDescription& parameter, long double value,
                   std::string_view text);

// The same point: every parameter equal, Pmut to the bit and in its text.
bool same_point(const Point& a, const Point& b);

// "lambda=10 mu=5 pmut=0.3 ...": every parameter but `except`, in table
// order.
std::string describe_point(const Point& point, const ParameterDescription* except = nullptr);

}  // namespace blocklevels
