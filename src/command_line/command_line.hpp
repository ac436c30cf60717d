// The command line: options instead of the dialogue's questions. Parsing
// and checking only; nothing runs and no file is touched here.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "study/study.hpp"

namespace CLI {
class App;
}

namespace blocklevels {

// The study the arguments ask for, or nothing when they asked for the help
// or the version text (written to standard output). A refused option or
// value throws Failure (status 2) with a message naming both.
std::optional<Study> parse_command_line(int argc, char** argv);

// An option as the parser holds it, for the manual: its names ("-h,--help",
// "TABLE" for an argument), its value's name ("" for a flag) and its help.
struct OptionHelp {
  std::string names, value, meaning;
};
// A command (the study's, "blocklevels"; "blocklevels plot", ...): what
// it does and its options, as its --help lists them.
struct CommandHelp {
  std::string usage, meaning;
  std::vector<OptionHelp> options;
};
std::vector<OptionHelp> options_help(const CLI::App& app);
CommandHelp study_help();

}  // namespace blocklevels
