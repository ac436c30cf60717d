// Which levels a figure draws (--plot-levels): a list of "top" (a point's
// top level), "top-K" (K levels below it) and level numbers j, at most
// eight. The fractions at or above each are drawn; the default is the top
// three levels for one point and the top level of each point for several.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace blocklevels {

struct LevelPick {
  bool from_top = true;  // "top-K": n is K; else n is the level j
  std::int32_t n = 0;
};

inline constexpr std::string_view kDefaultLevels = "top,top-1,top-2";
inline constexpr std::size_t kMostLevels = 8;

// Reads the list; throws Failure (status 2) naming --plot-levels (or the
// Python keyword, as `name` says) and the item it cannot read.
std::vector<LevelPick> read_plot_levels(std::string_view name, std::string_view text);

// The level a pick names at a point of `blocks` blocks; nothing when it
// is outside 1..blocks.
std::optional<std::int32_t> level_of(const LevelPick& pick, std::int32_t blocks);

// The pick's name in a key: "level 20", or for several points whose
// blocks differ "top level" and "level l-2".
std::string level_name(const LevelPick& pick, std::int32_t blocks, bool one_point,
                       bool same_blocks);

}  // namespace blocklevels
