// The arguments of the command line and of its commands (merge, plot),
// read by the option parser but refused in this program's own words.
#pragma once

#include <string>

namespace CLI {
class App;
}

namespace blocklevels {

// Parses argv[1..argc) into `app`. What the parser would refuse is said
// first as this program says it: an unknown option (with the nearest real
// one), an argument that is no option's value (only where the command
// takes no positional arguments), an option given twice; --help and
// --version win over the first two. `command` is "" for the study, or the
// command's name ("merge", "plot"), which then begins every message and
// names the help to read. Returns false when the help or the version was
// printed. Throws Failure (status 2).
bool parse_arguments(CLI::App& app, int argc, char** argv, const std::string& command);

}  // namespace blocklevels
