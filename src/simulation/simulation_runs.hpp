// Independent runs of the simulation, spread over threads. Run r (0-based)
// draws only from pcg32(seed, r), so its result depends on seed and r alone:
// not on the number of threads, the order in which they finish, or which
// machine ran it. Totals of disjoint sets of runs add up exactly to the
// totals of their union.
#pragma once

#include <cstdint>
#include <stop_token>

#include "parameters/point_parameters.hpp"
#include "parameters/quantity.hpp"
#include "simulation/population.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels::simulation {

// The runs first, first + stride, first + 2 stride, ... below total: one shard
// of `total` runs. stride >= 1.
struct RunSet {
  std::uint64_t total = 0;
  std::uint64_t first = 0;
  std::uint64_t stride = 1;

  std::uint64_t size() const { return first < total ? (total - 1 - first) / stride + 1 : 0; }
  std::uint64_t run(std::uint64_t i) const { return first + i * stride; }
};

// Totals of the right shape for params, all zero.
RunTotals empty_totals(const PointParameters& params);

// Runs run `run` from the start to the last report time in `population`
// (built for params) and adds its reports to totals. With `hitting`, also
// the first generation at which the run's quantity (of its offspring:
// k_j / lambda, or the level sum / lambda) reaches the value, or that it
// never did by the final generation, counted and as the run's own. A stop requested through
// `cancel` throws Cancelled within Population::kCancelStride parents or offspring of the run's
// start or of a generation, leaving `totals` with the runs before and `population` to be started
// again.
void simulate_run(const PointParameters& params, std::uint64_t seed, std::uint64_t run,
                  Population& population, RunTotals& totals, const Condition* hitting = nullptr,
                  const std::stop_token& cancel = {});

// The totals of the runs in `runs`, on up to `threads` threads (at least one),
// each with its own population and ExtendedArithmetic scope; threads whose
// population does not fit in memory leave their runs to the others. A
// failure throws Stop (203 when not one population fits, or threads cannot
// be started; a floating-point failure by its number) after stopping the
// other threads at their next run; the calling thread's floating-point
// environment is as it was. A stop requested through `cancel` throws
// Cancelled once every thread has left its run, within a stride of its
// start or generation (at lambda 3 10^6 and 300 blocks of 4, within 0.2 s).
RunTotals simulate_runs(const PointParameters& params, std::uint64_t seed, RunSet runs,
                        unsigned threads, const Condition* hitting = nullptr,
                        const std::stop_token& cancel = {});

}  // namespace blocklevels::simulation
