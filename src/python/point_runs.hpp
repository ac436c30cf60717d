// The Python package's computations, without Python: the points of a call
// run on threads of their own, each point's results kept as the points'
// runner gives them (points/point_run.hpp), or, when it stops, one Stopped
// result in their place, as a point of the command line's study ends with
// its status row. The module (module.cpp) turns these into Python objects;
// everything here runs without the interpreter's lock.
#pragma once

#include <span>
#include <stop_token>
#include <vector>

#include "points/point_run.hpp"

namespace blocklevels::python {

// Runs every point with `work`, up to `jobs` at a time, each point's
// results in the points' order; which thread ran what changes no value. A
// stop requested through `cancel` makes every thread leave at its next
// generation or matrix row, and then throws Cancelled.
std::vector<std::vector<Result>> run_points(std::span<const Point> points, const PointWork& work,
                                            int jobs, const std::stop_token& cancel);

}  // namespace blocklevels::python
