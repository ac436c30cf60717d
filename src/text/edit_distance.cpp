#include "text/edit_distance.hpp"

#include <algorithm>
#include <vector>

namespace blocklevels {

std::size_t edit_distance(std::string_view a, std::string_view b) {
  // d[i][j]: the distance from a's first i characters to b's first j.
  const std::size_t columns = b.size() + 1;
  std::vector<std::size_t> d((a.size() + 1) * columns);
  const auto at = [&](std::size_t i, std::size_t j) -> std::size_t& { return d[i * columns + j]; };
  for (std::size_t i = 0; i <= a.size(); ++i) at(i, 0) = i;
  for (std::size_t j = 0; j <= b.size(); ++j) at(0, j) = j;
  for (std::size_t i = 1; i <= a.size(); ++i) {
    for (std::size_t j = 1; j <= b.size(); ++j) {
      const std::size_t substitution = a[i - 1] == b[j - 1] ? 0 : 1;
      at(i, j) = std::min({at(i - 1, j) + 1, at(i, j - 1) + 1, at(i - 1, j - 1) + substitution});
      if (i > 1 && j > 1 && a[i - 1] == b[j - 2] && a[i - 2] == b[j - 1]) {
        at(i, j) = std::min(at(i, j), at(i - 2, j - 2) + 1);
      }
    }
  }
  return at(a.size(), b.size());
}

std::string_view closest_name(std::string_view typed, std::span<const std::string_view> names) {
  const std::size_t limit = std::max<std::size_t>(1, typed.size() / 3);
  std::string_view closest;
  std::size_t best = limit + 1;
  for (const std::string_view name : names) {
    const std::size_t distance = edit_distance(typed, name);
    if (distance < best) {
      best = distance;
      closest = name;
    }
  }
  return closest;
}

}  // namespace blocklevels
