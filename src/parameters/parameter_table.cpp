#include "parameters/parameter_table.hpp"

#include <cstring>

namespace blocklevels {
namespace {

using enum ParameterKind;

constexpr std::string_view kModelNames[] = {"level", "block-state"};
constexpr std::string_view kArithmeticNames[] = {"accurate", "literal"};
static_assert(static_cast<int>(ModelKind::level) == 0 &&
              static_cast<int>(ModelKind::block_state) == 1);
static_assert(static_cast<int>(Arithmetic::accurate) == 0 &&
              static_cast<int>(Arithmetic::literal) == 1);

constexpr ParameterDescription kTable[] = {
    {.name = "lambda",
     .option = "--lambda",
     .keyword = "lambda_",
     .value_name = "N",
     .meaning = "offspring per generation, at least 1",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .integer = &PointParameters::lambda},
    {.name = "mu",
     .option = "--mu",
     .keyword = "mu",
     .value_name = "N",
     .meaning = "selected parents, 1 to lambda",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .at_most = "lambda",
     .integer = &PointParameters::mu},
    {.name = "pmut",
     .option = "--pmut",
     .keyword = "pmut",
     .value_name = "X",
     .meaning = "allele mutation probability, 0 to 1",
     .kind = real,
     .default_text = "",
     .real_lowest = 0.0L,
     .real_highest = 1.0L,
     .range_text = "0..1",
     .shapes_matrix = true,
     .real = &PointParameters::Pmut,
     .text_slot = 0},
    {.name = "block_length",
     .option = "--block-length",
     .keyword = "block_length",
     .value_name = "B",
     .meaning = "positions per block, at least 1",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .shapes_matrix = true,
     .integer = &PointParameters::block_length},
    {.name = "two_option",
     .option = "--two-option",
     .keyword = "two_option",
     .value_name = "A",
     .meaning = "positions per block with two acceptable alleles, 0 to block_length",
     .kind = integer,
     .default_text = "0",
     .lowest = 0,
     .at_most = "block_length",
     .shapes_matrix = true,
     .integer = &PointParameters::two_option_positions},
    {.name = "blocks",
     .option = "--blocks",
     .keyword = "blocks",
     .value_name = "L",
     .meaning = "number of blocks, 1 to 1754",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .highest = kMaxBlocks,
     .why_highest = "from 1755 blocks on the model's factorials (1755! > 1.19e4932) are beyond "
                    "the extended range",
     .shapes_matrix = true,
     .integer = &PointParameters::blocks},
    {.name = "final",
     .option = "--final",
     .keyword = "final",
     .value_name = "T",
     .meaning = "last generation, at least 1",
     .kind = integer,
     .default_text = "",
     .lowest = 1,
     .in_title = false,
     .integer = &PointParameters::final_iteration},
    {.name = "step",
     .option = "--step",
     .keyword = "step",
     .value_name = "S",
     .meaning = "generations between reports, at least 1",
     .kind = integer,
     .default_text = "1",
     .lowest = 1,
     .in_title = false,
     .integer = &PointParameters::step_generations},
    {.name = "model",
     .option = "--model",
     .keyword = "model",
     .value_name = "M",
     .meaning = "the model, level or block-state",
     .kind = choice,
     .default_text = "level",
     .choices = kModelNames,
     .shapes_matrix = true,
     .choice_of = [](const PointParameters& p) { return static_cast<int>(p.model); },
     .set_choice = [](PointParameters& p, int v) { p.model = static_cast<ModelKind>(v); }},
    {.name = "arithmetic",
     .option = "--arithmetic",
     .keyword = "arithmetic",
     .value_name = "A",
     .meaning = "the model's evaluation, accurate or literal (the dialogue's)",
     .kind = choice,
     .default_text = "accurate",
     .choices = kArithmeticNames,
     .shapes_matrix = true,
     .choice_of = [](const PointParameters& p) { return static_cast<int>(p.arithmetic); },
     .set_choice = [](PointParameters& p, int v) { p.arithmetic = static_cast<Arithmetic>(v); }},
};

constexpr std::size_t count_reals() {
  std::size_t n = 0;
  for (const ParameterDescription& d : kTable) n += d.kind == real ? 1 : 0;
  return n;
}
static_assert(count_reals() == kRealParameters, "one text slot per real parameter");

std::string integer_text(std::int32_t v) {
  return std::to_string(v);
}

// "--mu: 0" or "mu=0": how a message begins that refuses `text`.
std::string refused(const ParameterDescription& d, std::string_view text, Spelling spelling) {
  if (spelling == Spelling::option) return std::string(d.option) + ": " + std::string(text);
  return std::string(d.keyword) + "=" + std::string(text);
}

std::optional<Failure> refusal(std::string message) {
  return Failure(kBadUsage, std::move(message));
}

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

const ParameterDescription* find_keyword(std::string_view keyword) {
  for (const ParameterDescription& d : kTable) {
    if (d.keyword == keyword) return &d;
  }
  return nullptr;
}

std::string_view spelled(const ParameterDescription& parameter, Spelling spelling) {
  return spelling == Spelling::option ? parameter.option : parameter.keyword;
}

std::string parameter_text(const Point& point, const ParameterDescription& parameter) {
  switch (parameter.kind) {
    case real:
      return point.real_texts[parameter.text_slot];
    case choice:
      return std::string(parameter.choices[static_cast<std::size_t>(parameter.choice_of(point.p))]);
    case integer:
      break;
  }
  return integer_text(point.p.*parameter.integer);
}

long double parameter_value(const PointParameters& p, const ParameterDescription& parameter) {
  switch (parameter.kind) {
    case real:
      return p.*parameter.real;
    case choice:
      return parameter.choice_of(p);
    case integer:
      break;
  }
  return p.*parameter.integer;
}

std::optional<int> choice_index(const ParameterDescription& parameter, std::string_view name) {
  for (std::size_t n = 0; n < parameter.choices.size(); ++n) {
    if (parameter.choices[n] == name) return static_cast<int>(n);
  }
  return std::nullopt;
}

std::string integer_range_text(const ParameterDescription& parameter, Spelling spelling) {
  const std::string low = integer_text(parameter.lowest);
  if (!parameter.at_most.empty()) {
    const ParameterDescription& bound = *find_parameter(parameter.at_most);
    return "from " + low + " to " +
           std::string(spelling == Spelling::option ? bound.name : bound.keyword);
  }
  return "from " + low + " to " + integer_text(parameter.highest);
}

std::optional<Failure> value_refusal(const ParameterDescription& parameter, long double value,
                                     std::string_view text, Spelling spelling) {
  const std::string start = refused(parameter, text, spelling);
  switch (parameter.kind) {
    case real:
      if (value >= parameter.real_lowest && value <= parameter.real_highest) return std::nullopt;
      return refusal(start + " is outside " + std::string(parameter.range_text));
    case choice:
      if (value >= 0 && value < static_cast<long double>(parameter.choices.size())) {
        return std::nullopt;
      }
      return refusal(start + " is not a choice");
    case integer:
      break;
  }
  if (value < parameter.lowest) {
    return refusal(start + " is below " + integer_text(parameter.lowest));
  }
  if (value > parameter.highest) {
    return refusal(start + " is above " + integer_text(parameter.highest) + ": " +
                   std::string(parameter.why_highest));
  }
  return std::nullopt;
}

std::optional<Failure> bound_refusal(const Point& point, const ParameterDescription& parameter,
                                     Spelling spelling) {
  if (parameter.at_most.empty()) return std::nullopt;
  const ParameterDescription& bound = *find_parameter(parameter.at_most);
  const std::int32_t v = point.p.*parameter.integer;
  const std::int32_t limit = point.p.*bound.integer;
  if (v <= limit) return std::nullopt;
  const std::string limit_text = spelling == Spelling::option
                                     ? std::string(bound.option) + " " + integer_text(limit)
                                     : std::string(bound.keyword) + "=" + integer_text(limit);
  return refusal(refused(parameter, integer_text(v), spelling) + " is above " + limit_text);
}

void set_parameter(Point& point, const ParameterDescription& parameter, long double value,
                   std::string_view text) {
  switch (parameter.kind) {
    case real:
      point.p.*parameter.real = value;
      point.real_texts[parameter.text_slot] = text;
      return;
    case choice:
      parameter.set_choice(point.p, static_cast<int>(value));
      return;
    case integer:
      point.p.*parameter.integer = static_cast<std::int32_t>(value);
      return;
  }
}

namespace {

// Equal values: integers and choices as numbers, reals in their 80 bits
// (the padding beyond them is not compared).
bool same_value(const PointParameters& a, const PointParameters& b, const ParameterDescription& d) {
  if (d.kind == real) return std::memcmp(&(a.*d.real), &(b.*d.real), 10) == 0;
  return parameter_value(a, d) == parameter_value(b, d);
}

}  // namespace

bool same_point(const Point& a, const Point& b) {
  if (a.real_texts != b.real_texts) return false;
  for (const ParameterDescription& d : kTable) {
    if (!same_value(a.p, b.p, d)) return false;
  }
  return true;
}

bool same_matrix(const PointParameters& a, const PointParameters& b) {
  for (const ParameterDescription& d : kTable) {
    if (d.shapes_matrix && !same_value(a, b, d)) return false;
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
