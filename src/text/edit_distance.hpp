// How far apart two names are, and the known name a mistyped one most
// likely meant: for "unknown option --lamda; did you mean --lambda?".
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace blocklevels {

// The fewest insertions, deletions, substitutions of one character and
// swaps of two adjacent characters that turn `a` into `b` (no character is
// edited twice: "ca" to "abc" is 3, not 2).
std::size_t edit_distance(std::string_view a, std::string_view b);

// The name in `names` nearest to `typed`, when it is near enough to be the
// one meant: at most a third of `typed`'s length away, or one edit when
// that is less (a single slip is always forgiven). Of names equally near,
// the first. An empty view when none is near enough.
std::string_view closest_name(std::string_view typed, std::span<const std::string_view> names);

}  // namespace blocklevels
