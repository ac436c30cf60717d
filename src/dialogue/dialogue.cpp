#include "dialogue/dialogue.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <new>
#include <string_view>

#include "arithmetic/out_of_memory.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "dialogue/answer_reader.hpp"
#include "model/model_run.hpp"
#include "output/report_text.hpp"
#include "output/write_statement.hpp"
#include "runtime/descriptors.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/stop_report.hpp"
#include "runtime/traps.hpp"

namespace blocklevels {
namespace {

using runtime::InputStream;
using runtime::OutputStream;

// The bounds the prompts advise; no answer is compared with them.
constexpr std::int32_t kAdvisedPopulation = 1000000;
constexpr std::int32_t kAdvisedChromosomeLength = 300;

// The helpers are inlined so that a stop report names the question asked.
[[gnu::always_inline]] inline void prompt(std::string_view text) {
  OutputStream& console = runtime::console();
  StatementText line;
  line.text(text);
  line.text(console.line_end());
  write_line(console, line.view());
}

[[gnu::always_inline]] inline void prompt(std::string_view before, std::int32_t bound,
                                          std::string_view after) {
  OutputStream& console = runtime::console();
  StatementText line;
  line.text(before);
  line.integer(bound);
  line.text(after);
  line.text(console.line_end());
  write_line(console, line.view());
}

[[gnu::always_inline]] inline void end_read_statement(InputStream& in) {
  if (in.result() != 0) throw_stop(in.result());
}

[[gnu::always_inline]] inline std::int32_t answer_integer() {
  InputStream& in = runtime::standard_input();
  const std::int32_t value = read_integer(in);
  skip_line(in);
  end_read_statement(in);
  return value;
}

[[gnu::always_inline]] inline long double answer_real() {
  InputStream& in = runtime::standard_input();
  const long double value = read_real(in);
  skip_line(in);
  end_read_statement(in);
  return value;
}

// The blocks prompt computes its bound, 300 div b, while the prompt is half
// in the console's buffer, so a block length of 0 stops the run with the
// prompt's first part on the console.
[[gnu::always_inline]] inline void prompt_for_blocks(std::int32_t block_length) {
  OutputStream& console = runtime::console();
  runtime::IoSection whole_line;
  console.put("The number of blocks l (at most ");
  if (block_length == 0) throw_stop(kDivisionByZero);
  StatementText rest;
  rest.integer(kAdvisedChromosomeLength / block_length);
  rest.text("):");
  rest.text(console.line_end());
  console.put(rest.view());
  end_write_statement(console);
}

// A count the run cannot go on with stops it as invalid numeric input, right
// after the answer is read: blocks below 1 would leave no level to report,
// and a step below 1 would never reach the final iteration.
[[gnu::always_inline]] inline void refuse_below_one(std::int32_t value) {
  if (value < 1) throw_stop(kInvalidNumericInput);
}

// Creates (or truncates) the report file; an empty name makes standard output
// the report file, as a stream of its own that closing leaves open.
void create_report_file(const LineText& name) {
  OutputStream& file = runtime::report_file();
  if (name.text.empty() && !name.too_long) {
    file.open(STDOUT_FILENO, runtime::LineEnd::crlf, false);
    return;
  }
  // A NUL byte would silently cut the name short: refuse it as an invalid name.
  if (name.too_long) throw_stop(kInvalidName);
  if (name.text.find('\0') != std::string::npos) throw_stop(kInvalidName);
  int fd = ::open(name.text.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) throw_stop(runtime::os_error_number(errno));
  // Standard streams closed by the caller must not become the report file.
  fd = runtime::above_standard(fd);
  if (fd < 0) throw_stop(runtime::os_error_number(errno));
  file.open(fd, runtime::LineEnd::crlf, true);
}

// Closes the report file, then writes out the console's rest.
void end_run() {
  close_stream(runtime::report_file());
  close_stream(runtime::console());
}

}  // namespace

PointParameters read_dialogue() {
  PointParameters p;
  write_line(runtime::console(), runtime::console().line_end());
  prompt("Enter population size (at most ", kAdvisedPopulation, "):");
  p.lambda = answer_integer();
  prompt("Enter allele mutation probability:");
  p.Pmut = answer_real();
  prompt("Enter block length (at most ", kAdvisedChromosomeLength, "):");
  p.block_length = answer_integer();
  prompt("how many block positions with two options acceptable (at most ", p.block_length, "):");
  p.two_option_positions = answer_integer();
  prompt_for_blocks(p.block_length);
  p.blocks = answer_integer();
  refuse_below_one(p.blocks);
  prompt("The final iteration number:");
  p.final_iteration = answer_integer();
  prompt("The number of generations in one step in the output:");
  p.step_generations = answer_integer();
  refuse_below_one(p.step_generations);
  prompt("Enter parameter mu (at most ", p.lambda, "):");
  p.mu = answer_integer();

  prompt("Output file name:");
  InputStream& in = runtime::standard_input();
  const LineText name = read_line_text(in);
  skip_line(in);
  end_read_statement(in);
  create_report_file(name);
  write_report_header(runtime::report_file(), p);
  return p;
}

void run_dialogue() {
  try {
    stop_when_out_of_memory([] {
      const PointParameters p = read_dialogue();
      ReportLines lines(&runtime::console(), &runtime::report_file(), p.blocks);
      run_model(p, lines);
      end_run();
    });
  } catch (const Stop& stop) {
    runtime::stop_run_at(stop.number(), stop.place());
  }
}

void run_dialogue_program() {
  runtime::install_traps();
  runtime::standard_input().open(STDIN_FILENO);
  runtime::console().open(STDOUT_FILENO, runtime::LineEnd::lf, false);
  run_dialogue();
}

}  // namespace blocklevels
