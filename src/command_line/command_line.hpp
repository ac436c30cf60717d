// The command line: options instead of the dialogue's questions. Parsing
// and checking only; nothing runs and no file is touched here.
#pragma once

#include <optional>

#include "study/study.hpp"

namespace blocklevels {

// The study the arguments ask for, or nothing when they asked for the help
// or the version text (written to standard output). A refused option or
// value throws Failure (status 2) with a message naming both.
std::optional<Study> parse_command_line(int argc, char** argv);

}  // namespace blocklevels
