// What makes two tables parts of one study: the same points in the same
// order, the same runs and seed. Its fingerprint is what a shard records.
#pragma once

#include <cstdint>

#include "output/csv_table.hpp"
#include "study/study.hpp"

namespace blocklevels {

// A 64-bit FNV-1a hash of every point's parameters as the table writes
// them, in the study's order, and of the simulation's runs and seed. Equal
// studies give equal fingerprints on every machine; different ones differ
// but for one chance in 2^64.
std::uint64_t study_fingerprint(const Study& study);

// The runs and seed columns of the study's simulated rows, if it simulates.
std::optional<SimulationColumns> simulation_columns(const Study& study);

}  // namespace blocklevels
