#include "parameters/parameter_table.hpp"

#include <cstring>

namespace blocklevels {
namespace {

using enum ParameterKind;

constexpr ParameterDescription kTable[] = {
    {.name = "lambda",
     .option = "--lambda",
     .value_name = "N",
     .meaning = "offspring per generation",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .integer = &PointParameters::lambda},
    {.name = "mu",
     .option = "--mu",
     .value_name = "N",
     .meaning = "selected parents, 1..lambda",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .at_most = "lambda",
     .integer = &PointParameters::mu},
    {.name = "pmut",
     .option = "--pmut",
     .value_name = "X",
     .meaning = "allele mutation probability, 0..1",
     .kind = real,
     .default_text = "",
     .real_lowest = 0.0L,
     .real_highest = 1.0L},
    {.name = "block_length",
     .option = "--block-length",
     .value_name = "B",
     .meaning = "positions per block",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .integer = &PointParameters::block_length},
    {.name = "two_option",
     .option = "--two-option",
     .value_name = "A",
     .meaning = "positions per block with two acceptable alleles (default 0)",
     .kind = integer,
     .default_text = "0",
     .lowest = 0,
     .at_most = "block_length",
     .integer = &PointParameters::two_option_positions},
    {.name = "blocks",
     .option = "--blocks",
     .value_name = "L",
     .meaning = "number of blocks, 1..1754",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .highest = kMaxBlocks,
     .why_highest = "from 1755 blocks on the model's factorials (1755! > 1.19e4932) are beyond "
                    "the extended range",
     .integer = &PointParameters::blocks},
    {.name = "final",
     .option = "--final",
     .value_name = "T",
     .meaning = "last generation",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .in_title = false,
     .integer = &PointParameters::final_iteration},
    {.name = "step",
     .option = "--step",
     .value_name = "S",
     .meaning = "generations between reports (default 1)",
     .kind = integer,
     .default_text = "1",
     .lowest = 1,
     .in_title = false,
     .integer = &PointParameters::step_generations},
};

}  // namespace

std::span<const ParameterDescription> parameter_table() {
  return kTable;
}

const ParameterDescription* find_parameter(std::string_view name) {
  for (const ParameterDescription& d : kTable) {
    if (d.name == name) return &d;
  }
  return nullptr;
}

std::string parameter_text(const Point& point, const ParameterDescription& parameter) {
  if (parameter.kind == real) return point.pmut_text;
  return std::to_string(point.p.*parameter.integer);
}

long double parameter_value(const PointParameters& p, const ParameterDescription& parameter) {
  if (parameter.kind == real) return p.Pmut;
  return p.*parameter.integer;
}

std::string value_refusal(const ParameterDescription& parameter, long double value,
                          std::string_view text) {
  const std::string option(parameter.option);
  if (parameter.kind == real) {
    if (value >= parameter.real_lowest && value <= parameter.real_highest) return "";
    return option + ": " + std::string(text) + " is outside 0..1";
  }
  if (value < parameter.lowest) {
    return option + ": " + std::string(text) + " is below " + std::to_string(parameter.lowest);
  }
  if (value > parameter.highest) {
    return option + ": " + std::string(text) + " is above " + std::to_string(parameter.highest) +
           ": " + std::string(parameter.why_highest);
  }
  return "";
}

std::string bound_refusal(const Point& point, const ParameterDescription& parameter) {
  if (parameter.at_most.empty()) return "";
  const ParameterDescription& bound = *find_parameter(parameter.at_most);
  const std::int32_t v = point.p.*parameter.integer;
  const std::int32_t limit = point.p.*bound.integer;
  if (v <= limit) return "";
  return std::string(parameter.option) + ": " + std::to_string(v) + " is above " +
         std::string(bound.option) + " " + std::to_string(limit);
}

void set_parameter(Point& point, const ParameterDescription& parameter, long double value,
                   std::string_view text) {
  if (parameter.kind == real) {
    point.p.Pmut = value;
    point.pmut_text = text;
  } else {
    point.p.*parameter.integer = static_cast<std::int32_t>(value);
  }
}

bool same_point(const Point& a, const Point& b) {
  if (a.pmut_text != b.pmut_text) return false;
  for (const ParameterDescription& d : kTable) {
    if (d.kind == real) {
      // The 80 bits of the extended value; the padding beyond is not compared.
      if (std::memcmp(&a.p.Pmut, &b.p.Pmut, 10) != 0) return false;
    } else if (a.p.*d.integer != b.p.*d.integer) {
      return false;
    }
  }
  return true;
}

std::string describe_point(const Point& point, const ParameterDescription* except) {
  std::string text;
  for (const ParameterDescription& d : kTable) {
    if (&d == except) continue;
    if (!text.empty()) text += ' ';
    text += d.name;
    text += '=';
    text += parameter_text(point, d);
  }
  return text;
}

}  // namespace blocklevels
