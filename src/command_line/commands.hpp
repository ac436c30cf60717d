// The program with arguments: a study from its options, or one of the
// commands beside it ("merge" puts the tables of a study's shards
// together, "plot" draws a table written before). A failure is said once,
// here, in words on standard error; a stop of the study's own output goes
// the stop path.
#pragma once

#include <vector>

#include "command_line/command_line.hpp"

namespace blocklevels {

// Returns the exit status.
int run_command_line(int argc, char** argv);

// The study's options, then each command's (merge, plot), as their --help
// lists them: what the manual page is made from.
std::vector<CommandHelp> commands_help();

}  // namespace blocklevels
