// What a study asks of a point's levels: the fraction of the offspring at
// level j or above (X<j>), the top level's (Xtop, X<blocks>), or the mean
// level; and a condition on it, Q=V, as --where and --hitting take it.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "arithmetic/extended_real.hpp"

namespace blocklevels {

// The values' sum, added in level order in extended precision and rounded
// to double: the mean level of a tail vector.
double sum_in_level_order(std::span<const double> tail);

struct Quantity {
  enum class Kind { level, top, mean_level };
  Kind kind = Kind::top;
  std::int32_t level = 0;  // j, for Kind::level

  // "X3", "Xtop", "mean_level".
  std::string name() const;
  // The level j it reads for `blocks` blocks; 0 for the mean level.
  std::int32_t level_for(std::int32_t blocks) const;
  // Its value from a tail vector (tail[j - 1] = X_j).
  double of(std::span<const double> tail) const;
  // Its value from a table row's values: the mean level, then X1..X<blocks>.
  double of_row(std::span<const double> values, std::int32_t blocks) const;
};

// Q=V: V as typed, and the double its text names. Quantities are compared
// as the table prints them, doubles, so that a value copied from a table
// counts as reached where the table shows it.
struct Condition {
  Quantity quantity;
  double value = 0.0;
  std::string value_text;
  // True when q has reached the value: q >= V.
  bool reached(double q) const { return q >= value; }
};

// Reads "X3=0.5", "Xtop=0.5", "mean_level=2.5"; nothing when the text is
// not one (the caller says why).
std::optional<Condition> parse_condition(std::string_view text);

}  // namespace blocklevels
