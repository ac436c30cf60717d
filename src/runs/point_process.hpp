// The child's side of a point's process: it computes the point, writes its
// results as records into the records file, tells its progress into the
// pipe, and writes the dialogue's lines of a single run. It ends with exit
// status 0, or with the stop number after a Stopped record when the point
// stops.
#pragma once

#include "points/point_run.hpp"
#include "runs/process_workers.hpp"

namespace blocklevels {

[[noreturn]] void run_point_process(const Point& point, const PointWork& work,
                                    const ProcessSettings& settings, int records_fd,
                                    int progress_fd);

}  // namespace blocklevels
