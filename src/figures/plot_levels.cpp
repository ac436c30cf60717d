#include "figures/plot_levels.hpp"

#include "errors/failure.hpp"

namespace blocklevels {
namespace {

// A decimal count from 0 to 100000 (no sign, no other character).
std::optional<std::int32_t> count_of(std::string_view text) {
  if (text.empty() || text.size() > 6) return std::nullopt;
  std::int32_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  return value;
}

}  // namespace

std::vector<LevelPick> read_plot_levels(std::string_view name, std::string_view text) {
  std::vector<LevelPick> picks;
  const auto refuse = [&](const std::string& why) {
    throw Failure(kBadUsage, std::string(name) + ": " + why);
  };
  for (std::size_t from = 0; from <= text.size();) {
    std::size_t comma = text.find(',', from);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = text.substr(from, comma - from);
    from = comma + 1;
    LevelPick pick;
    if (item == "top") {
      pick = {true, 0};
    } else if (item.starts_with("top-") && count_of(item.substr(4))) {
      pick = {true, *count_of(item.substr(4))};
    } else if (const auto j = count_of(item); j && *j >= 1) {
      pick = {false, *j};
    } else {
      refuse("'" + std::string(item) +
             "' is not a level: give levels j (1 to the blocks), top or top-K");
    }
    picks.push_back(pick);
  }
  if (picks.size() > kMostLevels) {
    refuse("at most " + std::to_string(kMostLevels) + " levels, not " +
           std::to_string(picks.size()));
  }
  return picks;
}

std::optional<std::int32_t> level_of(const LevelPick& pick, std::int32_t blocks) {
  const std::int32_t level = pick.from_top ? blocks - pick.n : pick.n;
  if (level < 1 || level > blocks) return std::nullopt;
  return level;
}

std::string level_name(const LevelPick& pick, std::int32_t blocks, bool one_point,
                       bool same_blocks) {
  if (!pick.from_top) return "level " + std::to_string(pick.n);
  if (one_point || (same_blocks && pick.n > 0)) return "level " + std::to_string(blocks - pick.n);
  return pick.n == 0 ? "top level" : "level l-" + std::to_string(pick.n);
}

}  // namespace blocklevels
