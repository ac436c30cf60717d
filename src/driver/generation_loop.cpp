#include "driver/generation_loop.hpp"

#include <cstdint>
#include <string_view>

#include "driver/dialogue.hpp"
#include "driver/text_rules.hpp"
#include "model/generation.hpp"
#include "model/transition_model.hpp"

namespace blocklevels {
namespace {

// Run-wide state: created by the dialogue and the model build, kept until
// the process ends.
Params params;
LevelModel model;

// One part of a report line: label, "(t)", " <=", the tail value.
void write_tail_value(OutputStream& out, std::string_view label, std::int32_t t, long double value,
                      int width, int decimals) {
  write_text(out, label);
  write_integer(out, t);
  write_text(out, ") <=");
  write_fixed(out, value, width, decimals);
}

// The three highest levels: l always, l - 1 and l - 2 when they exist. The
// console and the file label level l - 1 differently.
void write_report(OutputStream& out, std::string_view second_label, std::int32_t t, int width,
                  int decimals) {
  const std::int32_t l = params.blocks;
  write_tail_value(out, "Xl(", t, model.A.get(l), width, decimals);
  if (l > 1) write_tail_value(out, second_label, t, model.A.get(l - 1), width, decimals);
  if (l > 2) write_tail_value(out, "  X_(l-2)(", t, model.A.get(l - 2), width, decimals);
  write_line_end(out);
  end_write_statement(out);
}

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
  // t in 64 bits: t + step may pass the 32-bit range when the final
  // iteration is near it, and a wrapped t would never pass the final one.
  // Inside the loop t never exceeds the final iteration (or the first step).
  std::int64_t t = params.first_report;
  build_model(params, 0.0L, params.Pmut, model);

  OutputStream& file = runtime::output_file();
  write_text(file, "  Xl_1(");
  write_integer(file, static_cast<std::int32_t>(t));
  write_text(file, ")= ");
  write_fixed(file, 0.0L, 3, 3);
  write_text(file, " <=");
  write_fixed(file, 0.0L, 3, 3);
  write_line_end(file);
  end_write_statement(file);

  GenerationStep generation(model, params.mu, params.lambda);
  bool steady = false;
  do {
    for (std::int32_t g = 0; g < params.step_generations && !steady; ++g) {
      steady = generation.advance(model);
    }
    const auto label = static_cast<std::int32_t>(t);
    write_report(runtime::console(), "  X_(l-1)(", label, 3, 3);
    write_report(file, "  Xl_1(", label, 10, 6);
    t += params.step_generations;
  } while (t <= params.final_iteration);
  end_run();
}

}  // namespace blocklevels
