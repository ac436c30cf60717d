// Runs a study from the command line: every point in a process of its own,
// up to --jobs at a time, each sending typed records; the CSV rows in point
// order, one summary line per point of a sweep, a figure at the end.
#pragma once

#include "study/study.hpp"

namespace blocklevels {

// Returns the exit status: 0, or the status of the first point that
// stopped. Throws Failure for an output that is refused (1: it
// exists without --force, or gnuplot is missing; a stop number: it cannot
// be created) and Stop when the study's own output fails.
int run_study(const Study& study);

}  // namespace blocklevels
