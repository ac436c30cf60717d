#include "driver/generation_loop.hpp"

#include <cstdint>
#include <string_view>

#include "driver/dialogue.hpp"
#include "driver/text_rules.hpp"
#include "model/generation.hpp"
#include "model/transition_model.hpp"
#include "runtime/traps.hpp"

namespace blocklevels {
namespace {

// Run-wide state: created by the dialogue and the model build, kept until
// the process ends.
Params params;
LevelModel model;

// The three highest levels: l always, l - 1 and l - 2 when they exist, each
// as label, t, ") <=" and the tail value. The console and the file label
// level l - 1 differently. The line is collected first and put at once.
void write_report(OutputStream& out, std::string_view second_label, std::string_view t,
                  const FixedFigure (&tail)[3], int width, int decimals) {
  // An interrupt waits until the whole line is in the stream, so that the
  // output written out on an interrupt ends with a complete line.
  runtime::IoSection whole_line;
  const std::string_view labels[] = {"Xl(", second_label, "  X_(l-2)("};
  StatementText line;
  for (std::int32_t n = 0; n < 3 && n < params.blocks; ++n) {
    line.text(labels[n]);
    line.text(t);
    line.text(") <=");
    line.fixed(tail[n], width, decimals);
  }
  line.text(out.line_end());
  write_text(out, line.view());
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
  {
    runtime::IoSection whole_line;
    write_text(file, "  Xl_1(");
    write_integer(file, static_cast<std::int32_t>(t));
    write_text(file, ")= ");
    write_fixed(file, 0.0L, 3, 3);
    write_text(file, " <=");
    write_fixed(file, 0.0L, 3, 3);
    write_line_end(file);
    end_write_statement(file);
  }

  GenerationStep generation(model, params.mu, params.lambda);
  bool steady = false;
  do {
    for (std::int32_t g = 0; g < params.step_generations && !steady; ++g) {
      steady = generation.advance(model);
    }
    // The console and the file show the same t and tail values.
    char digits[kIntegerTextCapacity];
    const std::string_view label(digits, format_integer(digits, static_cast<std::int32_t>(t)));
    const std::int32_t l = params.blocks;
    const FixedFigure tail[3] = {fixed_figure(model.A.get(l)),
                                 fixed_figure(l > 1 ? model.A.get(l - 1) : 0.0L),
                                 fixed_figure(l > 2 ? model.A.get(l - 2) : 0.0L)};
    write_report(runtime::console(), "  X_(l-1)(", label, tail, 3, 3);
    write_report(file, "  Xl_1(", label, tail, 10, 6);
    t += params.step_generations;
  } while (t <= params.final_iteration);
  end_run();
}

}  // namespace blocklevels
