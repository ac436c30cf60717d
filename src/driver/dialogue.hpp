// The dialogue: nine questions on the console, one answer per line; then the
// report file is created and its header written, and the model runs with
// the report lines on the console and in the file.
#pragma once

#include "model/run_parameters.hpp"

namespace blocklevels {

// Asks the nine questions and returns the answers, with the report file
// (runtime::report_file()) created and holding its header. Any failure
// stops the run.
RunParameters read_dialogue();

// The whole program without arguments: the dialogue, the run, the end of the
// run. Returns after a normal run; any failure stops the run.
void run_dialogue();

}  // namespace blocklevels
