// Faults seen from outside: the built program run with streams that fail,
// signals sent while it waits or works, a memory limit, and input that ends
// early, is huge or is garbage. A stop writes out the buffered output (the
// file's first, then the console's) and one report line; an interrupt ends
// the process by its own signal after the same writing out.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::dialogue_transcript;
using testing::masked_stop_report;
using testing::ProgramRun;
using testing::RunOptions;
using testing::RunSoFar;
using testing::TemporaryDirectory;

const std::vector<std::string> kWorked = {"10", "0.3", "1", "0", "1", "6", "1", "5", "run1.txt"};

// The first `count` answers, one per line.
std::string typed(const std::vector<std::string>& answers, std::size_t count = 9) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += answers[i] + "\n";
  return text;
}

// A run long enough to be interrupted: 40 blocks and a report after every
// generation up to two thousand million.
const std::vector<std::string> kLong = {"100",        "0.001", "1",  "0",      "40",
                                        "2000000000", "1",     "10", "out.txt"};
std::string header(int blocks) {
  const std::string l = std::to_string(blocks);
  return "block length=1\r\n"
         "number of blocks=" +
         l +
         "\r\n"
         "number of block positions with two options acceptable=0\r\n"
         "length of chromosome =" +
         l +
         "\r\n"
         "Number of fitness levels = " +
         std::to_string(blocks + 1) +
         "\r\n"
         "Population size lambda=100\r\n"
         "Pmut=0.00100\r\n"
         "Number of selectable (current best) individuals mu= 10\r\n";
}
const std::string kLongHead = header(40) + "  Xl_1(1)= 0.000 <=0.000\r\n";

// A fraction right-aligned in `width` characters with `decimals` decimals.
bool is_fraction(std::string_view v, std::size_t width, std::size_t decimals) {
  if (v.size() != width) return false;
  while (v.starts_with(' ')) v.remove_prefix(1);
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  return v.size() == decimals + 2 && (v[0] == '0' || v[0] == '1') && v[1] == '.' &&
         std::all_of(v.begin() + 2, v.end(), digit);
}

// One report line of the long run for time t, without its line end: three
// labelled fractions (the console and the file label level l - 1 differently).
bool is_report_line(std::string_view line, std::int64_t t, std::string_view second_label,
                    std::size_t width, std::size_t decimals) {
  const std::string n = std::to_string(t);
  const std::string labels[] = {
      "Xl(" + n + ") <=", std::string(second_label) + n + ") <=", "  X_(l-2)(" + n + ") <="};
  for (const auto& label : labels) {
    if (!line.starts_with(label) || !is_fraction(line.substr(label.size(), width), width, decimals))
      return false;
    line.remove_prefix(label.size() + width);
  }
  return line.empty();
}

// The number of whole report lines (for t = 1, 2, ...) after `head`, when the
// text is exactly `head` and those lines; -1 otherwise.
std::int64_t whole_report_lines(std::string_view text, std::string_view head,
                                std::string_view line_end, std::string_view second_label,
                                std::size_t width, std::size_t decimals) {
  if (!text.starts_with(head)) return -1;
  text.remove_prefix(head.size());
  std::int64_t t = 0;
  while (!text.empty()) {
    const std::size_t end = text.find(line_end);
    if (end == std::string_view::npos ||
        !is_report_line(text.substr(0, end), t + 1, second_label, width, decimals))
      return -1;
    text.remove_prefix(end + line_end.size());
    ++t;
  }
  return t;
}

std::int64_t whole_file_lines(std::string_view file) {
  return whole_report_lines(file, kLongHead, "\r\n", "  Xl_1(", 10, 6);
}

std::int64_t whole_console_lines(std::string_view out) {
  return whole_report_lines(out, dialogue_transcript(100, 1, 9), "\n", "  X_(l-1)(", 5, 3);
}

std::uintmax_t size_of(const std::filesystem::path& file) {
  std::error_code ignored;
  const std::uintmax_t size = std::filesystem::file_size(file, ignored);
  return ignored ? 0 : size;
}

class Faults : public ::testing::Test {
 protected:
  ProgramRun run(const std::string& input, const RunOptions& options = {}) {
    ProgramRun result = testing::run_program(input, dir.path(), options);
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.err, "");  // nothing ever goes to standard error
    result.out = testing::mask_stop_place(result.out);
    return result;
  }
  // Fires once the long run's output file holds at least `bytes`; the file of
  // an earlier run is removed first.
  std::function<bool(const RunSoFar&)> file_holds(std::uintmax_t bytes) const {
    const std::string file = dir.path() + "/out.txt";
    std::filesystem::remove(file);
    return [file, bytes](const RunSoFar&) { return size_of(file) >= bytes; };
  }
  TemporaryDirectory dir;
};

struct Stop {
  std::string name;
  int error_number;
};

// The dialogue alone passes 128 bytes at the fourth prompt, so the console's
// first block is written there and fails: no file is ever created.
TEST_F(Faults, ConsoleThatCannotBeWritten) {
  const Stop cases[] = {{"/dev/full", 112}, {testing::kClosed, 9}};
  for (const auto& c : cases) {
    RunOptions options;
    options.standard_output = c.name;
    const ProgramRun result = run(typed(kWorked), options);
    EXPECT_EQ(result.exit_status, c.error_number) << c.name;
    EXPECT_EQ(result.signal, 0);
    EXPECT_TRUE(dir.entries().empty());
  }
}

// Standard input that cannot be read stops at the first answer with the read's
// error number; one that is empty from the start is at its end there.
TEST_F(Faults, StandardInputThatCannotBeRead) {
  const std::string empty_input = dialogue_transcript(0, 0, 4) + "The number of blocks l (at most ";
  const struct {
    std::string input;
    std::string out;
    int status;
  } cases[] = {
      {testing::kClosed, dialogue_transcript(0, 0, 1) + masked_stop_report(9), 9},
      {"/", dialogue_transcript(0, 0, 1) + masked_stop_report(5), 5},
      {"/dev/null", empty_input + masked_stop_report(200), 200},
  };
  for (const auto& c : cases) {
    RunOptions options;
    options.standard_input = c.input;
    const ProgramRun result = run("", options);
    EXPECT_EQ(result.out, c.out) << c.input;
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_TRUE(dir.entries().empty());
  }
}

// The console's reader goes away while reports are being written: the next
// console block fails with a broken pipe (32), and the stop still writes out
// the file's buffer, which ends with the last whole report.
TEST_F(Faults, ReaderThatGoesAwayMidRun) {
  for (const std::uintmax_t bytes : {1u, 4096u, 100000u}) {
    RunOptions options;
    options.when = file_holds(bytes);
    const ProgramRun result = run(typed(kLong), options);
    ASSERT_TRUE(result.acted) << bytes;
    EXPECT_EQ(result.exit_status, 32);
    EXPECT_EQ(result.signal, 0);
    const std::string file = dir.read("out.txt");
    EXPECT_GE(file.size(), bytes);
    EXPECT_GE(whole_file_lines(file), 1)
        << file.substr(file.size() - std::min<std::size_t>(200, file.size()));
  }
}

// Options that send `signal` once all input is taken and the program waits
// in a read of standard input (at the block-length prompt for "10\n0.3\n").
RunOptions signal_while_reading(int signal) {
  RunOptions options;
  options.when = [](const RunSoFar& now) {
    return now.input_taken && testing::waiting_in(now.pid, SYS_read, 0);
  };
  options.signal = signal;
  return options;
}

// A trap signal sent while the program waits for the block length: the
// prompts written so far come out, and the report continues them.
TEST_F(Faults, TrapSignalWhileWaitingAtAPrompt) {
  const std::pair<int, int> cases[] = {
      {SIGSEGV, 216}, {SIGBUS, 216}, {SIGILL, 255}, {SIGABRT, 255}, {SIGSYS, 255}};
  for (const auto& [signal, error_number] : cases) {
    const ProgramRun result = run("10\n0.3\n", signal_while_reading(signal));
    ASSERT_TRUE(result.acted) << signal;
    EXPECT_EQ(result.out, dialogue_transcript(10, 1, 3) + masked_stop_report(error_number))
        << signal;
    EXPECT_EQ(result.exit_status, error_number);
    EXPECT_TRUE(dir.entries().empty());
  }
}

constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

// An interrupt ends the process by that signal, with no report, after the
// prompts still buffered are written out.
TEST_F(Faults, InterruptWhileWaitingAtAPrompt) {
  for (const int signal : kInterrupts) {
    const ProgramRun result = run("10\n0.3\n", signal_while_reading(signal));
    ASSERT_TRUE(result.acted) << signal;
    EXPECT_EQ(result.signal, signal);
    EXPECT_EQ(result.exit_status, -1);
    EXPECT_EQ(result.out, dialogue_transcript(10, 1, 3));
  }
}

// In the middle of a long run, an interrupt writes out both buffers, so the
// file and the console each end with a whole report line, not at a 128-byte
// block boundary. The console's report for a time comes before the file's,
// so the console is at most one report ahead.
TEST_F(Faults, InterruptInTheMiddleOfALongRun) {
  bool some_size_off_the_blocks = false;
  for (const int signal : kInterrupts) {
    for (const std::uintmax_t bytes : {2000u, 50000u, 400000u}) {
      RunOptions options;
      options.when = file_holds(bytes);
      options.signal = signal;
      const ProgramRun result = run(typed(kLong), options);
      ASSERT_TRUE(result.acted) << signal << " " << bytes;
      EXPECT_EQ(result.signal, signal);
      EXPECT_EQ(result.exit_status, -1);
      const std::string file = dir.read("out.txt");
      const std::int64_t file_reports = whole_file_lines(file);
      const std::int64_t console_reports = whole_console_lines(result.out);
      EXPECT_GE(file_reports, 1) << signal << " " << bytes << " ends with "
                                 << file.substr(file.size() -
                                                std::min<std::size_t>(100, file.size()));
      EXPECT_TRUE(console_reports == file_reports || console_reports == file_reports + 1)
          << console_reports << " console reports, " << file_reports
          << " in the file; console ends with "
          << result.out.substr(result.out.size() - std::min<std::size_t>(100, result.out.size()));
      some_size_off_the_blocks = some_size_off_the_blocks || file.size() % 128 != 0;
    }
  }
  EXPECT_TRUE(some_size_off_the_blocks);
}

// A console nobody reads: the program waits in a write that cannot go on.
// An interrupt breaks that write, writes out the output file to its last
// whole line and then waits again, writing out the console; a second
// interrupt ends the process at once.
TEST_F(Faults, InterruptWhileTheConsoleIsNotRead) {
  const std::string fifo = dir.path() + "/console";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // never read
  ASSERT_GE(reader, 0);
  for (const int signal : kInterrupts) {
    RunOptions options;
    options.standard_output = fifo;
    options.signal = signal;
    options.time_limit = std::chrono::seconds(20);
    bool first_sent = false;
    int still_waiting = 0;
    options.when = [&](const RunSoFar& now) {
      if (!testing::waiting_in(now.pid, SYS_write, 1)) return false;
      if (!first_sent) {
        first_sent = ::kill(now.pid, signal) == 0;
        return false;
      }
      return ++still_waiting == 20;  // waiting again, 100 ms on
    };
    std::filesystem::remove(dir.path() + "/out.txt");
    const ProgramRun result = run(typed(kLong), options);
    ASSERT_TRUE(result.acted) << signal;
    EXPECT_EQ(result.signal, signal);
    EXPECT_GE(whole_file_lines(dir.read("out.txt")), 1);
    char drain[65536];
    while (::read(reader, drain, sizeof drain) > 0) {
    }
  }
  ::close(reader);
}

// With the address space limited, (l + 1)^2 doubles for l = 20000 (3.2 GB)
// cannot be had: 203 after the dialogue, and the header written so far is
// written out.
TEST_F(Faults, AllocationFailureUnderAMemoryLimit) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "the address sanitizer reserves far more address space than the limit";
#else
  RunOptions options;
  options.memory_limit = std::size_t{200} << 20;
  std::vector<std::string> answers = kLong;
  answers[4] = "20000";
  answers[5] = "10";
  const ProgramRun result = run(typed(answers), options);
  EXPECT_EQ(result.out, dialogue_transcript(100, 1, 9) + masked_stop_report(203));
  EXPECT_EQ(result.exit_status, 203);
  EXPECT_EQ(dir.read("out.txt"), header(20000));
#endif
}

struct Ending {
  std::size_t answers;  // lines typed before the input ends
  std::string out;      // the whole console, or its start for a run that ends with 0
  int status;
};

// End of input answers 0, 0.0 or an empty name. Block length 0 divides by
// zero in the blocks prompt, 0 blocks or 0 generations per step are refused,
// and an empty name makes standard output the output file.
TEST_F(Faults, EndOfInputAtEachPrompt) {
  const std::string divides =
      dialogue_transcript(0, 0, 4) + "The number of blocks l (at most " + masked_stop_report(200);
  const Ending cases[] = {
      {0, divides, 200},
      {1,
       dialogue_transcript(10, 0, 4) + "The number of blocks l (at most " + masked_stop_report(200),
       200},
      {2,
       dialogue_transcript(10, 0, 4) + "The number of blocks l (at most " + masked_stop_report(200),
       200},
      {3, dialogue_transcript(10, 1, 5) + masked_stop_report(106), 106},
      {4, dialogue_transcript(10, 1, 5) + masked_stop_report(106), 106},
      {5, dialogue_transcript(10, 1, 7) + masked_stop_report(106), 106},
      {6, dialogue_transcript(10, 1, 7) + masked_stop_report(106), 106},
      {7, dialogue_transcript(10, 1, 9), 0},
      {8, dialogue_transcript(10, 1, 9), 0},
      {9, dialogue_transcript(10, 1, 9), 0},
  };
  for (const auto& c : cases) {
    std::string input = typed(kWorked, c.answers);
    for (const bool cut : {false, true}) {  // the last answer with or without its LF
      if (cut && input.empty()) continue;
      if (cut) input.pop_back();
      const ProgramRun result = run(input);
      if (c.status == 0) {  // an empty name shares standard output from the first block on
        EXPECT_TRUE(result.out.starts_with(c.out.substr(0, 128))) << c.answers;
        EXPECT_EQ(result.out.find("Runtime error"), std::string::npos);
      } else {
        EXPECT_EQ(result.out, c.out) << c.answers;
      }
      EXPECT_EQ(result.exit_status, c.status) << c.answers;
      EXPECT_EQ(dir.entries(),
                c.answers == 9 ? std::vector<std::string>{"run1.txt"} : std::vector<std::string>{});
      std::filesystem::remove(dir.path() + "/run1.txt");
    }
  }
}

// A line of many megabytes is read a block at a time and never kept whole:
// the stop comes quickly, and the program (under 6 MB of address space at a
// prompt) also stops so within 12 MB, where a worked run still ends normally.
TEST_F(Faults, HugeLinesAreRefusedQuicklyInBoundedMemory) {
  RunOptions options;
#ifndef BLOCKLEVELS_SANITIZED  // the address sanitizer reserves far more address space
  options.memory_limit = std::size_t{12} << 20;
#endif
  EXPECT_EQ(run(typed(kWorked), options).exit_status, 0);
  std::filesystem::remove(dir.path() + "/run1.txt");
  const struct {
    std::string input;
    std::string out;
    int status;
  } cases[] = {
      {std::string(10'000'000, '1') + "\n", dialogue_transcript(0, 0, 1) + masked_stop_report(106),
       106},
      {std::string(10'000'000, 'a'), dialogue_transcript(0, 0, 1) + masked_stop_report(106), 106},
      {"10\n0.3\n1\n0\n1\n" + std::string(10'000'000, '9') + "\n",
       dialogue_transcript(10, 1, 6) + masked_stop_report(106), 106},
      {typed(kWorked, 8) + std::string(5'000'000, 'n') + "\n",
       dialogue_transcript(10, 1, 9) + masked_stop_report(123), 123},
      {typed(kWorked, 8) + std::string(5'000'000, '/'),
       dialogue_transcript(10, 1, 9) + masked_stop_report(123), 123},
  };
  for (const auto& c : cases) {
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun result = run(c.input, options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_EQ(result.out, c.out);
    EXPECT_EQ(result.exit_status, c.status);
    EXPECT_TRUE(dir.entries().empty());
  }
}

// 64 KB of pseudo-random bytes, as all the input or as the file name after
// eight good answers: whatever they give, the run either ends normally with
// no report, or its last line is the report of its exit status.
TEST_F(Faults, BinaryGarbageEndsWithTheReportOfItsStatus) {
  for (const std::uint32_t seed : {1u, 2u, 3u, 4u, 5u, 6u}) {
    std::mt19937 random(seed);
    std::string garbage(65536, '\0');
    for (char& byte : garbage) byte = static_cast<char>(random() & 0xFF);
    // The name starts with a letter, so it stays inside the directory.
    for (const std::string& input : {garbage, typed(kWorked, 8) + "g" + garbage}) {
      const ProgramRun result = run(input);
      EXPECT_EQ(result.signal, 0) << seed;
      if (result.exit_status == 0) {
        EXPECT_EQ(result.out.find("Runtime error"), std::string::npos) << seed;
      } else {
        EXPECT_TRUE(result.exit_status > 0 &&
                    result.out.ends_with(masked_stop_report(result.exit_status)))
            << seed << " " << result.exit_status;
      }
      std::filesystem::remove_all(dir.path());
      std::filesystem::create_directory(dir.path());
    }
  }
}

}  // namespace
}  // namespace blocklevels
