// The program's main sequence: the dialogue, the model, the generations and
// their reports, and the end of the run.
#pragma once

namespace blocklevels {

// Runs the whole program once. Returns after a normal run, with the output
// file closed and the console written out; any failure stops the run.
void run_generations();

}  // namespace blocklevels
