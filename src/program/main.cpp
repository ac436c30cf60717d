// blocklevels: the expected level distribution of a (mu, lambda) evolutionary
// algorithm with truncation selection on a block-structured fitness function.
// Without arguments the dialogue; with arguments the command line: a study,
// or one of its commands.
#include "command_line/commands.hpp"
#include "dialogue/dialogue.hpp"

int main(int argc, char** argv) {
  if (argc > 1) return blocklevels::run_command_line(argc, argv);
  blocklevels::run_dialogue_program();
  return 0;
}
