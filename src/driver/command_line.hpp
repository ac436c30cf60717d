// The command line: options instead of the dialogue's questions. Parsing
// and checking only; nothing runs and no file is touched here.
#pragma once

#include "driver/study.hpp"

namespace blocklevels {

// Fills `study` from the arguments. Returns -1 when the study may run;
// otherwise the exit status, with the help or version text on standard
// output (0), or a message naming the option and the value on standard
// error (2).
int parse_command_line(int argc, char** argv, Study& study);

}  // namespace blocklevels
