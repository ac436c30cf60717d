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

StudySettings settings_of(const Study& study) {
  StudySettings settings;
  if (study.simulate_runs > 0) {
    settings.runs = study.simulate_runs;
    settings.seed = study.seed;
  }
  if (study.find) {
    settings.condition =
        study.find->condition.quantity.name() + "=" + study.find->condition.value_text;
    settings.search = study.search_text();
    settings.grid = study.find->grid;
  } else if (study.hitting) {
    settings.condition = study.hitting->quantity.name() + "=" + study.hitting->value_text;
    settings.hitting_runs = study.hitting_runs && study.simulate_runs > 0;
  }
  return settings;
}

std::uint64_t study_fingerprint(std::span<const Point> points, const StudySettings& settings) {
  std::uint64_t h = kFnvOffset;
  for (const Point& point : points) {
    hash(h, describe_point(point));
    hash(h, "\n");
  }
  if (settings.runs) {
    hash(h, "runs=" + std::to_string(*settings.runs) + " seed=" + std::to_string(settings.seed) +
                "\n");
  }
  if (!settings.search.empty()) {
    hash(h, "find=" + settings.search + " where=" + settings.condition +
                " grid=" + std::to_string(settings.grid) + "\n");
  } else if (!settings.condition.empty()) {
    hash(h, "hitting=" + settings.condition + "\n");
  }
  // Only when set, so that the studies without it keep their fingerprints.
  if (settings.hitting_runs) hash(h, "hitting_runs\n");
  return h;
}

std::uint64_t study_fingerprint(const Study& study) {
  return study_fingerprint(study.points, settings_of(study));
}

}  // namespace blocklevels
