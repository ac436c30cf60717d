#include "study/study_identity.hpp"

#include <string>

#include "parameters/parameter_table.hpp"

namespace blocklevels {
namespace {

constexpr std::uint64_t kFnvOffset = 0xcbf29ce484222325u;
constexpr std::uint64_t kFnvPrime = 0x100000001b3u;

void hash(std::uint64_t& h, std::string_view text) {
  for (const char c : text) {
    h ^= static_cast<unsigned char>(c);
    h *= kFnvPrime;
  }
}

}  // namespace

std::uint64_t study_fingerprint(const Study& study) {
  std::uint64_t h = kFnvOffset;
  for (const Point& point : study.points) {
    hash(h, describe_point(point));
    hash(h, "\n");
  }
  if (const auto simulation = simulation_columns(study)) {
    hash(h, "runs=" + std::to_string(simulation->runs) +
                " seed=" + std::to_string(simulation->seed) + "\n");
  }
  if (study.find) {
    hash(h, "find=" + std::string(study.find->parameter->name) + ":" + study.find_range +
                " where=" + study.find->condition.quantity.name() + "=" +
                study.find->condition.value_text + " grid=" + std::to_string(study.find->grid) +
                "\n");
  }
  if (study.hitting) {
    hash(h, "hitting=" + study.hitting->quantity.name() + "=" + study.hitting->value_text + "\n");
  }
  return h;
}

std::optional<SimulationColumns> simulation_columns(const Study& study) {
  if (study.simulate_runs == 0) return std::nullopt;
  return SimulationColumns{study.simulate_runs, study.seed};
}

}  // namespace blocklevels
