#include "sweep/sweep_points.hpp"

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
    for (const std::int32_t v : integer_values(name, text)) {
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

SweepPoints expand_sweep(std::span<const ParameterValues> values, Spelling spelling) {
  const auto table = parameter_table();
  SweepPoints sweep;
  std::int64_t total = 1;
  for (std::size_t n = 0; n < table.size(); ++n) {
    total *= static_cast<std::int64_t>(values[n].numbers.size());
    if (total > kMaxPoints) {
      refuse("the sweep has more than " + std::to_string(kMaxPoints) + " points");
    }
    if (values[n].numbers.size() > 1) sweep.swept.emplace_back(table[n].name);
  }
  std::vector<std::size_t> at(table.size(), 0);
  for (std::int64_t k = 0; k < total; ++k) {
    Point point;
    for (std::size_t n = 0; n < table.size(); ++n) {
      set_parameter(point, table[n], values[n].numbers[at[n]], values[n].texts[at[n]]);
    }
    for (const ParameterDescription& d : table) {
      if (auto why = bound_refusal(point, d, spelling)) throw *why;
    }
    if (point.p.blocks > sweep.max_blocks) sweep.max_blocks = point.p.blocks;
    sweep.points.push_back(std::move(point));
    // The next combination: the last parameter moves fastest.
    for (std::size_t n = table.size(); n-- > 0;) {
      if (++at[n] < values[n].numbers.size()) break;
      at[n] = 0;
    }
  }
  return sweep;
}

}  // namespace blocklevels
