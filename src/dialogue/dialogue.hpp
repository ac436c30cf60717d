// The dialogue: nine questions on the console, one answer per line; then the
// report file is created and its header written, and the model runs with
// the report lines on the console and in the file.
#pragma once

#include "parameters/point_parameters.hpp"

namespace blocklevels {

// Asks the nine questions and returns the answers, with the report file
// (runtime::report_file()) created and holding its header. A failure throws
// Stop, placed at the statement that failed.
PointParameters read_dialogue();

// The whole program without arguments: the dialogue, the run, the end of the
// run. Returns after a normal run; a failure ends the process through the
// stop path, with the stop report on standard output.
void run_dialogue();

// The program without arguments: the traps installed (a trap stops the run
// with its stop report), the console streams opened, then run_dialogue().
void run_dialogue_program();

}  // namespace blocklevels
