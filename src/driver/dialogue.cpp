#include "driver/dialogue.hpp"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>

#include "driver/text_rules.hpp"
#include "model/wrapping_int.hpp"
#include "runtime/os_error.hpp"
#include "runtime/traps.hpp"

namespace blocklevels {
namespace {

constexpr int kDivisionByZero = 200;
constexpr int kInvalidName = 123;

// The helpers are inlined so that a stop report names the question asked.
// Each statement holds interrupts back until its line is complete in the
// stream, so that what an interrupt writes out ends with whole lines.
[[gnu::always_inline]] inline void prompt(std::string_view text) {
  runtime::IoSection whole_line;
  OutputStream& console = runtime::console();
  write_text(console, text);
  write_line_end(console);
  end_write_statement(console);
}

[[gnu::always_inline]] inline void prompt(std::string_view before, std::int32_t bound,
                                          std::string_view after) {
  runtime::IoSection whole_line;
  OutputStream& console = runtime::console();
  write_text(console, before);
  write_integer(console, bound);
  write_text(console, after);
  write_line_end(console);
  end_write_statement(console);
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

// The advised number of blocks, 300 div b. The bound is computed while its
// prompt is half written, so a block length of 0 stops the run with the
// prompt's first part on the console.
std::int32_t advised_blocks(std::int32_t block_length) {
  if (block_length == 0) runtime::stop_run(kDivisionByZero);
  return 300 / block_length;
}

// A count the run cannot go on with stops it as invalid numeric input, right
// after the answer is read: blocks below 1 would index outside the level
// vectors, and a step below 1 would never reach the final iteration.
[[gnu::always_inline]] inline void refuse_below_one(std::int32_t value) {
  if (value < 1) runtime::stop_run(kInvalidNumericInput);
}

// Creates (or truncates) the output file; an empty name makes standard output
// the output file, as a stream of its own that closing leaves open.
void create_output_file(const LineText& name) {
  OutputStream& file = runtime::output_file();
  if (name.text.empty() && !name.too_long) {
    file.open(STDOUT_FILENO, runtime::LineEnd::crlf, false);
    return;
  }
  // A NUL byte would silently cut the name short: refuse it as an invalid name.
  if (name.too_long) runtime::stop_run(runtime::os_error_number(ENAMETOOLONG));
  if (name.text.find('\0') != std::string::npos) runtime::stop_run(kInvalidName);
  int fd = ::open(name.text.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) runtime::stop_run(runtime::os_error_number(errno));
  if (fd <= STDERR_FILENO) {
    // Standard streams closed by the caller must not become the output file.
    const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, STDERR_FILENO + 1);
    if (moved < 0) runtime::stop_run(runtime::os_error_number(errno));
    ::close(fd);
    fd = moved;
  }
  file.open(fd, runtime::LineEnd::crlf, true);
}

[[gnu::always_inline]] inline void header_line(std::string_view label, std::int32_t value) {
  runtime::IoSection whole_line;
  OutputStream& file = runtime::output_file();
  write_text(file, label);
  write_integer(file, value);
  write_line_end(file);
  end_write_statement(file);
}

}  // namespace

void read_parameters(Params& params) {
  OutputStream& console = runtime::console();
  {
    runtime::IoSection whole_line;
    write_line_end(console);
    end_write_statement(console);
  }

  prompt("Enter population size (at most ", 1000000, "):");
  params.lambda = answer_integer();
  prompt("Enter allele mutation probability:");
  params.Pmut = answer_real();
  prompt("Enter block length (at most ", 300, "):");
  params.block_length = answer_integer();
  prompt("how many block positions with two options acceptable (at most ", params.block_length,
         "):");
  params.two_option_positions = answer_integer();

  {
    runtime::IoSection whole_line;
    write_text(console, "The number of blocks l (at most ");
    write_integer(console, advised_blocks(params.block_length));
    write_text(console, "):");
    write_line_end(console);
    end_write_statement(console);
  }
  params.blocks = answer_integer();
  refuse_below_one(params.blocks);
  params.chromosome_length = wrapping_mul(params.blocks, params.block_length);

  prompt("The final iteration number:");
  params.final_iteration = answer_integer();
  prompt("The number of generations in one step in the output:");
  params.step_generations = answer_integer();
  refuse_below_one(params.step_generations);
  prompt("Enter parameter mu (at most ", params.lambda, "):");
  params.mu = answer_integer();
  params.first_report = params.step_generations;

  prompt("Output file name:");
  InputStream& in = runtime::standard_input();
  const LineText name = read_line_text(in);
  skip_line(in);
  end_read_statement(in);
  params.output_file_name = name.text;
  create_output_file(name);

  header_line("block length=", params.block_length);
  header_line("number of blocks=", params.blocks);
  header_line("number of block positions with two options acceptable=",
              params.two_option_positions);
  header_line("length of chromosome =", params.chromosome_length);
  header_line("Number of fitness levels = ", wrapping_add(params.blocks, 1));
  header_line("Population size lambda=", params.lambda);
  {
    runtime::IoSection whole_line;
    OutputStream& file = runtime::output_file();
    write_text(file, "Pmut=");
    write_fixed(file, params.Pmut, 5, 5);
    write_line_end(file);
    end_write_statement(file);
  }
  header_line("Number of selectable (current best) individuals mu= ", params.mu);
}

}  // namespace blocklevels
