#include "study/quantity_checks.hpp"

#include "errors/failure.hpp"
#include "study/run_settings.hpp"

namespace blocklevels {

std::optional<std::string> quantity_refusal(const Quantity& quantity,
                                            std::span<const Point> points) {
  if (quantity.kind != Quantity::Kind::level) return std::nullopt;
  for (const Point& point : points) {
    if (quantity.level > point.p.blocks) {
      return quantity.name() + " but a point has " + std::to_string(point.p.blocks) + " blocks";
    }
  }
  return std::nullopt;
}

std::optional<std::string> condition_refusal(const Condition& condition,
                                             std::span<const Point> points) {
  if (auto why = quantity_refusal(condition.quantity, points)) return why;
  const std::string asked = condition.quantity.name() + "=" + condition.value_text;
  if (condition.quantity.kind != Quantity::Kind::mean_level) {
    if (condition.value >= 0 && condition.value <= 1) return std::nullopt;
    return asked + " asks for a value " + condition.quantity.name() +
           " never takes: a fraction is 0 to 1";
  }
  for (const Point& point : points) {
    if (!(condition.value >= 0 && condition.value <= point.p.blocks)) {
      return asked + " asks for a value the mean level never takes: it is 0 to the blocks, " +
             std::to_string(point.p.blocks) + " for a point";
    }
  }
  return std::nullopt;
}

void check_study_quantities(const Study& study, Spelling spelling) {
  const auto refuse = [&](std::string_view setting, const std::string& why) {
    const SettingDescription* s = find_setting(setting);
    throw Failure(
        kBadUsage,
        (s != nullptr ? std::string(spelled(*s, spelling)) : std::string(setting)) + ": " + why);
  };
  if (study.find) {
    if (auto why = condition_refusal(study.find->condition, study.points)) refuse("where", *why);
  }
  if (study.hitting) {
    if (auto why = condition_refusal(*study.hitting, study.points)) refuse("hitting", *why);
  }
  if (!study.plot_map.empty()) {
    const std::optional<Condition> map = parse_condition(study.plot_map + "=0");
    if (map) {
      if (auto why = quantity_refusal(map->quantity, study.points)) refuse("--plot-map", *why);
    }
  }
}

}  // namespace blocklevels
