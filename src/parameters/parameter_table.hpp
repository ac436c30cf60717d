// Every parameter of a point, described once: its name (the CSV column and
// merge's key, the key of a summary line, a figure's label), its option and
// Python keyword, whether it is an integer, a real or a choice among names,
// what values it may take, whether the transition matrix depends on it, and
// where in PointParameters it lives. The options, the Python arguments, the
// CSV header and rows, summary lines, figure labels and titles, the manual
// and merge's keys are all made from this table. A new parameter is one row
// here plus its use in the arithmetic.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "errors/failure.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

enum class ParameterKind { integer, real, choice };

// How a front end names parameters in its messages: the command line by
// their options ("--mu: 20 is above --lambda 10"), Python by its keywords
// ("mu=20 is above lambda_=10").
enum class Spelling { option, keyword };

// The most blocks the model can take: 1755! is beyond the extended range,
// so from 1755 blocks on every run overflows building its matrix.
inline constexpr std::int32_t kMaxBlocks = 1754;

struct ParameterDescription {
  std::string_view name;        // "lambda": the CSV column and the summary key
  std::string_view option;      // "--lambda"
  std::string_view keyword;     // "lambda_": Python's name
  std::string_view value_name;  // "N": the value's name in the option's help
  std::string_view meaning;     // the option's help
  ParameterKind kind;
  std::string_view default_text;  // "" when the option must be given
  // Integers: from `lowest` to `highest` (with the reason for that limit),
  // and at most the parameter named by `at_most` ("" for none).
  std::int32_t lowest = 0;
  std::int32_t highest = INT32_MAX;
  std::string_view why_highest = {};
  std::string_view at_most = {};
  // Reals: from `real_lowest` to `real_highest`, written in messages as
  // `range_text`.
  long double real_lowest = 0.0L;
  long double real_highest = 0.0L;
  std::string_view range_text = {};
  // Choices: the names, in the order of their values.
  std::span<const std::string_view> choices = {};
  // Shown in a figure's title when every point shares it (the generations
  // show on the figure's axis instead).
  bool in_title = true;
  // The transition matrix (and whatever a model prepares before its
  // generations) depends on it: points that differ only in parameters
  // without this flag share one.
  bool shapes_matrix = false;
  // The field: an integer's, a real's (with its place among Point's texts),
  // or a choice's value as an index into `choices`.
  std::int32_t PointParameters::*integer = nullptr;
  long double PointParameters::*real = nullptr;
  std::size_t text_slot = 0;
  int (*choice_of)(const PointParameters&) = nullptr;
  void (*set_choice)(PointParameters&, int) = nullptr;
};

// In the order of the options, the CSV columns and summary lines. A sweep's
// Cartesian product varies the first slowest.
std::span<const ParameterDescription> parameter_table();

// The description of the parameter called `name`, or nullptr.
const ParameterDescription* find_parameter(std::string_view name);
// The same by Python keyword ("lambda_"), or nullptr.
const ParameterDescription* find_keyword(std::string_view keyword);

// "--mu" or "mu", as `spelling` names the parameter; "lambda_" for lambda.
std::string_view spelled(const ParameterDescription& parameter, Spelling spelling);

// The value as text: integers in decimal, reals as the point names them,
// choices by name.
std::string parameter_text(const Point& point, const ParameterDescription& parameter);

// The value as a number; a choice's is its index.
long double parameter_value(const PointParameters& p, const ParameterDescription& parameter);

// The index of the choice called `name`, or nothing.
std::optional<int> choice_index(const ParameterDescription& parameter, std::string_view name);

// An integer parameter's own range in words, as its refusals say it:
// "from 1 to lambda" (or "from 1 to lambda_" in Python's names), "from 1
// to 1754", "from 1 to 2147483647".
std::string integer_range_text(const ParameterDescription& parameter,
                               Spelling spelling = Spelling::option);

// Why a value is refused for `parameter` on its own, as "--lambda: 0 is
// below 1" or "lambda_=0 is below 1" (`text` is the value as given), or
// nothing when it is valid.
std::optional<Failure> value_refusal(const ParameterDescription& parameter, long double value,
                                     std::string_view text, Spelling spelling = Spelling::option);

// Why the point's value of `parameter` is refused by the parameter that
// bounds it, as "--mu: 20 is above --lambda 10", or nothing.
std::optional<Failure> bound_refusal(const Point& point, const ParameterDescription& parameter,
                                     Spelling spelling = Spelling::option);

// Sets the parameter's field; an integer takes `value` as it is (the caller
// passes an integer in the 32-bit range), a real takes `value` and `text`,
// a choice the index `value`.
void set_parameter(Point& point, const ParameterDescription& parameter, long double value,
                   std::string_view text);

// The same point: every parameter equal, reals to the bit and in their text.
bool same_point(const Point& a, const Point& b);
// The same in every parameter that shapes the matrix.
bool same_matrix(const PointParameters& a, const PointParameters& b);

// "lambda=10 mu=5 pmut=0.3 ...": every parameter but `except`, in table
// order.
std::string describe_point(const Point& point, const ParameterDescription* except = nullptr);

}  // namespace blocklevels
