// The Python package's computations, without Python: the points of a call
// run on threads of their own, each point's values kept as the numeric core
// gives them (the tail vectors, the simulation's exact totals) or its stop
// number kept in their place, as a point of the command line's sweep ends
// with its status row. The module (module.cpp) turns these into Python
// objects; everything here runs without the interpreter's lock.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <stop_token>
#include <vector>

#include "parameters/point_parameters.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels::python {

struct RunRequest {
  bool model = true;      // compute the model's reports
  std::int32_t runs = 0;  // simulated runs per point; 0 for none
  std::uint64_t seed = 1;
  int jobs = 1;  // threads: points at a time, and a point's simulated runs
};

struct PointResult {
  // 0, or the stop number of the point's model or simulation; the other
  // fields are then empty.
  int status = 0;
  std::int64_t reports = 0;
  // Model: tail[report * blocks + j - 1] is the fraction at level >= j, and
  // mean_level[report] their sum as the CSV's mean_level column adds it.
  std::vector<double> tail;
  std::vector<double> mean_level;
  std::optional<simulation::RunTotals> totals;
};

// Runs every point, up to request.jobs at a time, the results in the points'
// order; which thread ran what changes no value. A stop requested through
// `cancel` makes every thread leave at its next generation or matrix row,
// and then throws Cancelled.
std::vector<PointResult> run_points(std::span<const Point> points, const RunRequest& request,
                                    const std::stop_token& cancel);

}  // namespace blocklevels::python
