// Whether the sums of one report time can come from simulated runs at
// all: what merge checks of every shard's sums beside their fingerprint,
// so that sums edited and fingerprinted again are still refused unless
// they are sums some runs could give.
#pragma once

#include "parameters/point_parameters.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

// Each run's level L is k_1 + ... + k_l with lambda >= k_1 >= ... >= k_l
// >= 0 (k_j its offspring at level j or above), so the sums obey the same:
// s_1 >= s_2 >= ... >= s_l, s_j <= n lambda, and the level sum is their
// sum; each sum of squares q of n values of sum s, each at most m, lies
// between ceil(s^2 / n) and s m. No runs (a shard with more shards than
// runs) have every sum 0.
bool sums_of_runs(const simulation::RunTotals& totals, const PointParameters& p);

}  // namespace blocklevels
