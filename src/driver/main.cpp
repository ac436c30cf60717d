// blocklevels: the expected level distribution of a (mu, lambda) evolutionary
// algorithm with truncation selection on a block-structured fitness function.
#include <unistd.h>

#include "driver/generation_loop.hpp"
#include "runtime/text_stream.hpp"
#include "runtime/traps.hpp"

int main() {
  blocklevels::runtime::install_traps();
  blocklevels::runtime::standard_input().open(STDIN_FILENO, true);
  blocklevels::runtime::console().open(STDOUT_FILENO, blocklevels::runtime::LineEnd::lf, false);
  blocklevels::run_generations();
  return 0;
}
