// blocklevels: the expected level distribution of a (mu, lambda) evolutionary
// algorithm with truncation selection on a block-structured fitness function.
// Without arguments the dialogue; with options a study; "merge" puts the
// tables of a study's shards together.
#include <unistd.h>

#include <string_view>

#include "driver/command_line.hpp"
#include "driver/dialogue.hpp"
#include "driver/merge.hpp"
#include "driver/study_run.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/traps.hpp"

int main(int argc, char** argv) {
  using namespace blocklevels;
  runtime::install_traps();
  if (argc > 1 && std::string_view(argv[1]) == "merge") return run_merge(argc, argv);
  if (argc > 1) {
    Study study;
    const int refused = parse_command_line(argc, argv, study);
    if (refused >= 0) return refused;
    return run_study(study);
  }
  runtime::standard_input().open(STDIN_FILENO);
  runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  run_dialogue();
  return 0;
}
