// The parameter dialogue: nine questions on the console, one answer per
// line, then the output file is created and its eight header lines written.
#pragma once

#include "model/params.hpp"

namespace blocklevels {

// Fills `params` and leaves runtime::output_file() open with its header.
// Any failure stops the run.
void read_parameters(Params& params);

}  // namespace blocklevels
