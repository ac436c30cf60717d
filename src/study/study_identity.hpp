// What makes two tables parts of one study: the same points in the same
// order, and the same settings (the simulation's runs and seed, the search
// or hitting condition). Its fingerprint is what a shard records, and what
// merge and resume compute again from the rows they read.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "study/study.hpp"

namespace blocklevels {

// The settings as a table writes them in its rows.
struct StudySettings {
  std::optional<std::int32_t> runs;  // a simulation's
  std::uint64_t seed = 0;
  std::string condition;  // "Xtop=0.5" of --where or --hitting, "" for none
  std::string search;     // "pmut:0.0001:0.1", "" for none
  std::int32_t grid = 0;  // a search's
  // Each run's hitting time in a row of its own: no row says it, the
  // table's `run` column does.
  bool hitting_runs = false;
  bool operator==(const StudySettings&) const = default;
};

StudySettings settings_of(const Study& study);

// A 64-bit FNV-1a hash of every point's parameters as the table writes
// them, in the study's order, and of the settings. Equal studies give equal
// fingerprints on every machine; different ones differ but for one chance
// in 2^64.
std::uint64_t study_fingerprint(std::span<const Point> points, const StudySettings& settings);
std::uint64_t study_fingerprint(const Study& study);

}  // namespace blocklevels
