// blocklevels: the expected level distribution of a (mu, lambda) evolutionary
// algorithm with truncation selection on a block-structured fitness function.
#include <unistd.h>

#include "driver/dialogue.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/traps.hpp"

int main() {
  using namespace blocklevels;
  runtime::install_traps();
  runtime::standard_input().open(STDIN_FILENO);
  runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  run_dialogue();
  return 0;
}
