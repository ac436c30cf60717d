#include "sweep/sweep_points.hpp"

#include <algorithm>
#include <cmath>

#include "arithmetic/extended_arithmetic.hpp"
#include "errors/failure.hpp"
#include "sweep/option_values.hpp"
#include "text/fields.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

// "--model: 'levels' is not one of level, block-state".
std::string choice_refusal(const ParameterDescription& parameter, std::string_view name,
                           Spelling spelling) {
  std::string names;
  for (const std::string_view choice : parameter.choices) {
    names += (names.empty() ? "" : ", ") + std::string(choice);
  }
  const std::string quoted = "'" + std::string(name) + "'";
  return (spelling == Spelling::option ? std::string(parameter.option) + ": " + quoted
                                       : std::string(parameter.keyword) + "=" + quoted) +
         " is not one of " + names;
}

}  // namespace

ParameterValues parameter_values(const ParameterDescription& parameter, std::string_view text,
                                 Spelling spelling) {
  ParameterValues values;
  const std::string_view name = spelled(parameter, spelling);
  if (parameter.kind == ParameterKind::real) {
    for (RealValue& v : real_values(name, text)) {
      values.numbers.push_back(v.value);
      values.texts.push_back(std::move(v.text));
    }
  } else if (parameter.kind == ParameterKind::choice) {
    for (const std::string_view choice : split(text, ',')) {
      const std::optional<int> index = choice_index(parameter, choice);
      if (!index) refuse(choice_refusal(parameter, choice, spelling));
      values.numbers.push_back(*index);
      values.texts.emplace_back(choice);
    }
  } else {
    for (const std::int32_t v :
         integer_values(name, text, integer_range_text(parameter, spelling))) {
      values.numbers.push_back(v);
      values.texts.push_back(std::to_string(v));
    }
  }
  check_values(parameter, values, spelling);
  return values;
}

void check_values(const ParameterDescription& parameter, const ParameterValues& values,
                  Spelling spelling) {
  for (std::size_t n = 0; n < values.numbers.size(); ++n) {
    if (auto why = value_refusal(parameter, values.numbers[n], values.texts[n], spelling)) {
      throw *why;
    }
  }
}

namespace {

// The axes of the product: each a list of the table's parameters whose
// values advance together (one parameter, or a zip) and its length.
struct Axis {
  std::vector<std::size_t> parameters;
  std::size_t length = 0;
};

std::vector<Axis> axes_of(std::span<const ParameterValues> values, Spelling spelling,
                          const Zip& zip) {
  const auto table = parameter_table();
  std::vector<int> axis_of(table.size(), -1);
  std::vector<Axis> axes;
  const auto name = [&](std::size_t n) { return std::string(spelled(table[n], spelling)); };
  for (const ParameterDescription* d : zip.parameters) {
    const auto n = static_cast<std::size_t>(d - table.data());
    if (axis_of[n] >= 0) refuse(zip.name + ": " + name(n) + " is named twice");
    if (values[n].numbers.size() < 2) {
      refuse(zip.name + ": " + name(n) + " has one value; a zip names parameters that take lists");
    }
    if (axes.empty()) axes.push_back({{}, values[n].numbers.size()});
    if (values[n].numbers.size() != axes[0].length) {
      const std::size_t first = axes[0].parameters[0];
      refuse(zip.name + ": " + name(first) + " has " + std::to_string(axes[0].length) +
             " values and " + name(n) + " " + std::to_string(values[n].numbers.size()) +
             "; zipped lists advance together and need equal lengths");
    }
    axes[0].parameters.push_back(n);
    axis_of[n] = 0;
  }
  std::vector<Axis> ordered;
  for (std::size_t n = 0; n < table.size(); ++n) {
    if (axis_of[n] < 0) {
      ordered.push_back({{n}, values[n].numbers.size()});
    } else if (*std::min_element(axes[0].parameters.begin(), axes[0].parameters.end()) == n) {
      ordered.push_back(axes[0]);
    }
  }
  return ordered;
}

// Sets parameter n of the point to its value `at`; a ratio's once the
// parameter it is a ratio of is set.
void set_value(Point& point, const ParameterValues& v, const ParameterDescription& d,
               std::size_t at, Spelling spelling) {
  if (v.ratio_of == nullptr) {
    set_parameter(point, d, v.numbers[at], v.texts[at]);
    return;
  }
  const long double of = parameter_value(point.p, *v.ratio_of);
  const long double value = std::round(v.numbers[at] * of);
  if (value < d.lowest) {
    refuse(v.ratio_name + ": " + v.texts[at] + " gives " + std::string(spelled(d, spelling)) + " " +
           std::to_string(static_cast<long long>(value)) + " at " +
           std::string(spelled(*v.ratio_of, spelling)) + " " + parameter_text(point, *v.ratio_of) +
           "; it must be at least " + std::to_string(d.lowest));
  }
  set_parameter(point, d, value, std::to_string(static_cast<long long>(value)));
}

}  // namespace

SweepPoints expand_sweep(std::span<const ParameterValues> values, Spelling spelling,
                         const Zip& zip) {
  const ExtendedArithmetic arithmetic;
  const auto table = parameter_table();
  const std::vector<Axis> axes = axes_of(values, spelling, zip);
  SweepPoints sweep;
  std::int64_t total = 1;
  for (const Axis& axis : axes) {
    total *= static_cast<std::int64_t>(axis.length);
    if (total > kMaxPoints) {
      refuse("the sweep has more than " + std::to_string(kMaxPoints) + " points");
    }
  }
  std::vector<std::size_t> at(axes.size(), 0);
  for (std::int64_t k = 0; k < total; ++k) {
    Point point;
    for (const bool ratios : {false, true}) {
      for (std::size_t a = 0; a < axes.size(); ++a) {
        for (const std::size_t n : axes[a].parameters) {
          if ((values[n].ratio_of != nullptr) == ratios) {
            set_value(point, values[n], table[n], at[a], spelling);
          }
        }
      }
    }
    for (const ParameterDescription& d : table) {
      if (auto why = bound_refusal(point, d, spelling)) throw *why;
    }
    if (point.p.blocks > sweep.max_blocks) sweep.max_blocks = point.p.blocks;
    sweep.points.push_back(std::move(point));
    // The next combination: the last axis moves fastest.
    for (std::size_t a = axes.size(); a-- > 0;) {
      if (++at[a] < axes[a].length) break;
      at[a] = 0;
    }
  }
  // The parameters that take more than one value.
  for (const ParameterDescription& d : table) {
    for (const Point& point : sweep.points) {
      if (parameter_text(point, d) != parameter_text(sweep.points.front(), d)) {
        sweep.swept.emplace_back(d.name);
        break;
      }
    }
  }
  return sweep;
}

}  // namespace blocklevels
