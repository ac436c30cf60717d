#include "driver/generation_loop.hpp"

#include "driver/dialogue.hpp"
#include "driver/text_rules.hpp"

namespace blocklevels {
namespace {

Params params;

// Closes the output file, then writes out the console's rest; both are tested
// like any other statement, so a run never ends with 0 after a lost write.
void end_run() {
  OutputStream& file = runtime::output_file();
  file.close();
  if (file.result() != 0) runtime::stop_run(file.result());
  OutputStream& console = runtime::console();
  console.close();
  if (console.result() != 0) runtime::stop_run(console.result());
}

}  // namespace

void run_generations() {
  read_parameters(params);
  end_run();
}

}  // namespace blocklevels
