// Runs a study from the command line: every point in a child process of its
// own, up to --jobs at a time; the CSV rows in point order, one summary line
// per point of a sweep, a figure at the end.
#pragma once

#include "driver/study.hpp"

namespace blocklevels {

// Returns the exit status: 0, 1 when an output file exists (without
// --force) or gnuplot is missing, the stop number of a file that cannot be
// created, else the status of the first point that stopped.
int run_study(const Study& study);

}  // namespace blocklevels
