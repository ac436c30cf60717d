#include "sweep/sweep_points.hpp"

#include "errors/failure.hpp"
#include "sweep/option_values.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, std::move(message));
}

}  // namespace

ParameterValues parameter_values(const ParameterDescription& parameter, std::string_view text) {
  ParameterValues values;
  if (parameter.kind == ParameterKind::real) {
    for (RealValue& v : real_values(parameter.option, text)) {
      values.numbers.push_back(v.value);
      values.texts.push_back(std::move(v.text));
    }
  } else {
    for (const std::int32_t v : integer_values(parameter.option, text)) {
      values.numbers.push_back(v);
      values.texts.push_back(std::to_string(v));
    }
  }
  check_values(parameter, values);
  return values;
}

void check_values(const ParameterDescription& parameter, const ParameterValues& values) {
  for (std::size_t n = 0; n < values.numbers.size(); ++n) {
    const std::string why = value_refusal(parameter, values.numbers[n], values.texts[n]);
    if (!why.empty()) refuse(why);
  }
}

SweepPoints expand_sweep(std::span<const ParameterValues> values) {
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
      const std::string why = bound_refusal(point, d);
      if (!why.empty()) refuse(why);
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
