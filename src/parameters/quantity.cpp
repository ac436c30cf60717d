#include "parameters/quantity.hpp"

#include <charconv>

#include "arithmetic/extended_arithmetic.hpp"

namespace blocklevels {

double sum_in_level_order(std::span<const double> tail) {
  const ExtendedArithmetic arithmetic;
  long double sum = 0.0L;
  for (const double v : tail) sum += v;
  return static_cast<double>(sum);
}

std::string Quantity::name() const {
  switch (kind) {
    case Kind::level: {
      // Appended, not "X" + ...: GCC 12 at -O3 warns falsely of an overlap.
      std::string name = "X";
      name += std::to_string(level);
      return name;
    }
    case Kind::top:
      return "Xtop";
    case Kind::mean_level:
      break;
  }
  return "mean_level";
}

std::int32_t Quantity::level_for(std::int32_t blocks) const {
  switch (kind) {
    case Kind::level:
      return level;
    case Kind::top:
      return blocks;
    case Kind::mean_level:
      break;
  }
  return 0;
}

double Quantity::of(std::span<const double> tail) const {
  if (kind == Kind::mean_level) return sum_in_level_order(tail);
  return tail[static_cast<std::size_t>(level_for(static_cast<std::int32_t>(tail.size())) - 1)];
}

double Quantity::of_row(std::span<const double> values, std::int32_t blocks) const {
  return values[static_cast<std::size_t>(level_for(blocks))];
}

std::optional<Condition> parse_condition(std::string_view text) {
  const std::size_t equals = text.find('=');
  if (equals == std::string_view::npos) return std::nullopt;
  const std::string_view name = text.substr(0, equals);
  Condition condition;
  condition.value_text = std::string(text.substr(equals + 1));
  if (name == "Xtop") {
    condition.quantity.kind = Quantity::Kind::top;
  } else if (name == "mean_level") {
    condition.quantity.kind = Quantity::Kind::mean_level;
  } else if (name.size() > 1 && name[0] == 'X') {
    std::int32_t j = 0;
    const auto [end, error] = std::from_chars(name.data() + 1, name.data() + name.size(), j);
    if (error != std::errc() || end != name.data() + name.size() || j < 1 || name[1] == '0') {
      return std::nullopt;
    }
    condition.quantity.kind = Quantity::Kind::level;
    condition.quantity.level = j;
  } else {
    return std::nullopt;
  }
  return condition;
}

}  // namespace blocklevels
