// blocklevels: the expected level distribution of a (mu, lambda) evolutionary
// algorithm with truncation selection on a block-structured fitness function.
// Without arguments the dialogue; with options a study; "merge" puts the
// tables of a study's shards together, "plot" draws a table written before.
#include <unistd.h>

#include <new>
#include <string_view>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "dialogue/dialogue.hpp"
#include "errors/failure.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/standard_error.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/traps.hpp"
#include "command_line/command_line.hpp"
#include "tables/merge.hpp"
#include "runs/study_run.hpp"
#include "tables/table_plot.hpp"

namespace {

// The command line: a failure is said once, here, in words on standard
// error; a stop of the study's own output goes the stop path.
int run_command_line(int argc, char** argv) {
  using namespace blocklevels;
  runtime::set_stop_style(runtime::StopStyle::words);
  try {
    if (std::string_view(argv[1]) == "merge") return run_merge(argc, argv);
    if (std::string_view(argv[1]) == "plot") return run_plot(argc, argv);
    const std::optional<Study> study = parse_command_line(argc, argv);
    return study ? run_study(*study) : 0;
  } catch (const Failure& failure) {
    runtime::say(failure.message());
    return failure.status();
  } catch (const Stop& stop) {
    runtime::stop_run_at(stop.number(), stop.place());
  } catch (const std::bad_alloc&) {
    runtime::stop_run_at(kOutOfMemory, 0);
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace blocklevels;
  runtime::install_traps();
  if (argc > 1) return run_command_line(argc, argv);
  runtime::standard_input().open(STDIN_FILENO);
  runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  run_dialogue();
  return 0;
}
