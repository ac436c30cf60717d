// What the black-box cases cannot express: stop places looked up with
// addr2line, signals, terminals, limits on memory and file size, standard
// streams that fail, readers that go away, and timing. Expected bytes come
// from the cases (tests/cases) wherever a run shares them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::kGoAway;
using testing::kKeepWatching;
using testing::mask_stop_place;
using testing::ProgramRun;
using testing::read_file;
using testing::RunOptions;
using testing::RunSoFar;
using testing::TemporaryDirectory;

std::string from_case(const std::string& name, const std::string& file) {
  return read_file(BLOCKLEVELS_SOURCE_DIR "/tests/cases/" + name + "/" + file);
}
const std::string kWorkedInput = from_case("worked-run1", "stdin");
const std::string kWorkedOut = from_case("worked-run1", "stdout");
const std::string kWorkedFile = from_case("worked-run1", "files/run1.txt");

// The first `count` lines of a text, their line ends included.
std::string first_lines(const std::string& text, int count) {
  std::size_t end = 0;
  for (int i = 0; i < count; ++i) end = text.find('\n', end) + 1;
  return text.substr(0, end);
}

std::string report(int status) {
  char line[40];
  std::snprintf(line, sizeof line, "Runtime error %3d at XXXXXXXX\r\n", status);
  return line;
}

// The line of `file` (below src/) that holds `text`, as "file:line".
std::string source_line(const std::string& file, const std::string& text) {
  const std::string source = read_file(BLOCKLEVELS_SOURCE_DIR "/src/" + file);
  const std::size_t at = source.find(text);
  if (at == std::string::npos) return file + " does not hold " + text;
  const auto line = std::count(source.begin(), source.begin() + static_cast<long>(at), '\n') + 1;
  return std::filesystem::path(file).filename().string() + ":" + std::to_string(line);
}

// What a command prints on its standard output.
std::string output_of(const std::string& command) {
  std::string text;
  FILE* pipe = ::popen(command.c_str(), "r");
  for (char chunk[256]; pipe != nullptr && std::fgets(chunk, sizeof chunk, pipe) != nullptr;) {
    text += chunk;
  }
  if (pipe != nullptr) ::pclose(pipe);
  return text;
}

// addr2line names the function and the source line of a stop's place: the
// statement that failed, or the test that found the model's failure right
// after the failing operation.
TEST(StopPlace, NamesTheFunctionAndLine) {
  struct Place {
    std::string input;
    int status;
    std::string function, line;
  };
  const Place places[] = {
      {"10\n1,5\n", 106, "read_dialogue",
       source_line("dialogue/dialogue.cpp", "p.Pmut = answer_real();")},
      {"10\n1e300\n1\n0\n3\n6\n1\n5\nx\n", 205, "round_to_double_or_stop",
       source_line("model/level_matrix.cpp", "throw_stop(kFloatOverflow);")},
      {"0\n0.3\n1\n0\n1\n6\n1\n5\nx\n", 200, "GenerationStep::advance",
       source_line("model/generation.cpp", "if (raised.division_by_zero) throw_stop(")},
  };
  for (const Place& p : places) {
    TemporaryDirectory dir;
    const ProgramRun run = testing::run_program(p.input, dir.path());
    EXPECT_EQ(run.exit_status, p.status);
    ASSERT_TRUE(run.out.size() > 12 && mask_stop_place(run.out).ends_with(" at XXXXXXXX\r\n"))
        << run.out;
    const std::string place = run.out.substr(run.out.size() - 10, 8);
    const std::string names = output_of("addr2line -f -i -C -e " BLOCKLEVELS_BINARY " 0x" + place);
    EXPECT_NE(names.find(p.function), std::string::npos) << names;
    // The line may carry a discriminator: "file:line (discriminator n)".
    EXPECT_TRUE(names.find(p.line + "\n") != std::string::npos ||
                names.find(p.line + " (") != std::string::npos)
        << p.line << " in\n"
        << names;
  }
}

// Sends `signal` once all of "10\n0.3\n" is read and the program waits for
// the block length.
RunOptions at_the_third_prompt(int signal) {
  RunOptions options;
  options.watch = [signal](RunSoFar& now) {
    return now.waiting_for_input ? signal : kKeepWatching;
  };
  return options;
}

// A trap signal sent by another process reports place 00000000 after the
// prompts so far; an interrupt ends the process by itself after them.
TEST(Signals, AtAPrompt) {
  const std::pair<int, int> cases[] = {{SIGSEGV, 216}, {SIGBUS, 216}, {SIGILL, 255}, {SIGABRT, 255},
                                       {SIGSYS, 255},  {SIGINT, 0},   {SIGTERM, 0},  {SIGHUP, 0}};
  const std::string prompts = first_lines(kWorkedOut, 4);
  for (const auto& [signal, status] : cases) {
    TemporaryDirectory dir;
    const ProgramRun run =
        testing::run_program("10\n0.3\n", dir.path(), at_the_third_prompt(signal));
    ASSERT_TRUE(run.acted) << signal;
    if (status == 0) {
      EXPECT_EQ(run.signal, signal);
      EXPECT_EQ(run.out, prompts);
    } else {
      EXPECT_EQ(run.exit_status, status);
      EXPECT_EQ(run.out, prompts + "Runtime error " + std::to_string(status) + " at 00000000\r\n");
    }
  }
}

// A run long enough to be interrupted: 40 blocks, a report every generation.
const std::string kLongRun = "100\n0.001\n1\n0\n40\n2000000000\n1\n10\nout.txt\n";

// The number of whole report lines t = 1, 2, ... after `skip` lines, when
// the text is exactly those lines (each with `line_end`); -1 otherwise.
long whole_reports(const std::string& text, int skip, const std::string& line_end) {
  std::size_t at = first_lines(text, skip).size();
  long t = 0;
  while (at < text.size()) {
    const std::size_t end = text.find(line_end, at);
    const std::string start = "Xl(" + std::to_string(t + 1) + ") <=";
    if (end == std::string::npos || text.compare(at, start.size(), start) != 0) return -1;
    at = end + line_end.size();
    ++t;
  }
  return t;
}

// Mid-run, an interrupt writes out both buffers to their last whole line
// (the console is at most one report ahead of the file); a reader of the
// console that goes away is a write error, 32, and the file is still
// written out.
TEST(Signals, InTheMiddleOfALongRun) {
  bool off_the_blocks = false;
  for (const int act : {SIGINT, SIGTERM, SIGHUP, kGoAway}) {
    for (const std::uintmax_t bytes : {3000u, 300000u}) {
      TemporaryDirectory dir;
      const std::string file = dir.path() + "/out.txt";
      RunOptions options;
      options.watch = [&](RunSoFar&) {
        std::error_code ignored;
        return std::filesystem::file_size(file, ignored) >= bytes && !ignored ? act : kKeepWatching;
      };
      const ProgramRun run = testing::run_program(kLongRun, dir.path(), options);
      ASSERT_TRUE(run.acted) << act;
      const std::string written = read_file(file);
      const long file_reports = whole_reports(written, 9, "\r\n");
      EXPECT_GE(file_reports, 1) << act << " " << bytes;
      off_the_blocks = off_the_blocks || written.size() % 128 != 0;
      if (act == kGoAway) {
        EXPECT_EQ(run.exit_status, 32);
        continue;
      }
      EXPECT_EQ(run.signal, act);
      const long console_reports = whole_reports(run.out, 10, "\n");
      EXPECT_TRUE(console_reports == file_reports || console_reports == file_reports + 1)
          << console_reports << " " << file_reports;
    }
  }
  EXPECT_TRUE(off_the_blocks);
}

// A console nobody reads: the program waits in a write. An interrupt breaks
// it, writes out the file to its last whole line and waits again on the
// console; a second interrupt ends the process at once.
TEST(Signals, WhileTheConsoleIsNotRead) {
  TemporaryDirectory dir;
  const std::string fifo = dir.path() + "/console";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);  // never read
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    std::filesystem::remove(dir.path() + "/out.txt");
    RunOptions options;
    options.standard_output = fifo;
    int sent = 0, waits = 0;
    options.watch = [&](RunSoFar& now) {
      if (!testing::waiting_in(now.pid, SYS_write, 1)) return kKeepWatching;
      if (sent == 0) sent = ::kill(now.pid, signal) == 0 ? 1 : 0;
      return ++waits == 20 ? signal : kKeepWatching;  // still waiting, 100 ms on
    };
    const ProgramRun run = testing::run_program(kLongRun, dir.path(), options);
    ASSERT_TRUE(run.acted) << signal;
    EXPECT_EQ(run.signal, signal);
    EXPECT_GE(whole_reports(read_file(dir.path() + "/out.txt"), 9, "\r\n"), 1);
    char drain[65536];
    while (::read(reader, drain, sizeof drain) > 0) {
    }
  }
  ::close(reader);
}

// On a terminal each prompt is written before its answer is read: every
// answer is typed only once its prompt has arrived.
TEST(Terminal, EachPromptBeforeItsAnswer) {
  TemporaryDirectory dir;
  RunOptions options;
  options.standard_input = options.standard_output = testing::kTerminal;
  int typed = 0;
  options.watch = [&](RunSoFar& now) {
    if (now.waiting_for_input && now.out == first_lines(kWorkedOut, typed + 2)) {
      now.type =
          first_lines(kWorkedInput, typed + 1).substr(first_lines(kWorkedInput, typed).size());
      if (++typed == 9) return SIGCONT;  // harmless: the watching ends
    }
    return kKeepWatching;
  };
  const ProgramRun run = testing::run_program("", dir.path(), options);
  EXPECT_EQ(typed, 9) << run.out;
  EXPECT_EQ(run.out, kWorkedOut);
  EXPECT_EQ(read_file(dir.path() + "/run1.txt"), kWorkedFile);
  EXPECT_EQ(run.exit_status, 0);
}

// A terminal that hangs up while the program waits for an answer is the end
// of the input: here the block length is 0.
TEST(Terminal, HangUpAtAPromptIsEndOfInput) {
  TemporaryDirectory dir;
  RunOptions options;
  options.standard_input = testing::kTerminal;
  options.watch = [](RunSoFar& now) { return now.waiting_for_input ? kGoAway : kKeepWatching; };
  const ProgramRun run = testing::run_program("10\n0.3\n", dir.path(), options);
  ASSERT_TRUE(run.acted);
  EXPECT_EQ(mask_stop_place(run.out), from_case("end-of-input-after-2-answers", "stdout"));
  EXPECT_EQ(run.exit_status, 200);
}

// The report file's last block fails when it is written out at the end of a
// normal run (a file-size limit one byte short): the run ends with that
// error, 27, not with 0.
TEST(Limits, FileSizeReachedWhenTheFileIsClosed) {
  ASSERT_NE(kWorkedFile.size() % 128, 0u);
  TemporaryDirectory dir;
  RunOptions options;
  options.file_size_limit = kWorkedFile.size() - 1;
  const ProgramRun run = testing::run_program(kWorkedInput, dir.path(), options);
  EXPECT_EQ(mask_stop_place(run.out), kWorkedOut + report(27));
  EXPECT_EQ(run.exit_status, 27);
  EXPECT_EQ(read_file(dir.path() + "/run1.txt"), kWorkedFile.substr(0, kWorkedFile.size() - 1));
}

// (l + 1)^2 doubles for l = 20000 (3.2 GB) cannot be had in 200 MB of
// address space: 203 after the dialogue, and the header is written out.
TEST(Limits, AllocationFailureUnderAMemoryLimit) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit";
#endif
  TemporaryDirectory dir;
  RunOptions options;
  options.memory_limit = std::size_t{200} << 20;
  const ProgramRun run =
      testing::run_program("100\n0.001\n1\n0\n20000\n10\n1\n10\nout.txt\n", dir.path(), options);
  EXPECT_TRUE(mask_stop_place(run.out).ends_with("Output file name:\n" + report(203)));
  EXPECT_EQ(run.exit_status, 203);
  const std::string file = read_file(dir.path() + "/out.txt");
  EXPECT_TRUE(file.starts_with("block length=1\r\nnumber of blocks=20000\r\n")) << file;
  EXPECT_EQ(std::count(file.begin(), file.end(), '\n'), 8);
}

// Lines of megabytes are read a block at a time and never kept whole: the
// stop comes within seconds, in 12 MB of address space.
TEST(Limits, HugeLinesQuicklyInBoundedMemory) {
  const std::string first_8 = first_lines(kWorkedInput, 8);
  const std::pair<std::string, int> cases[] = {
      {std::string(10'000'000, '1') + "\n", 106},
      {"10\n0.3\n1\n0\n1\n" + std::string(10'000'000, '9') + "\n", 106},
      {first_8 + std::string(5'000'000, 'n') + "\n", 123},
  };
  RunOptions options;
#ifndef BLOCKLEVELS_SANITIZED  // AddressSanitizer reserves far more address space
  options.memory_limit = std::size_t{12} << 20;
#endif
  for (const auto& [input, status] : cases) {
    TemporaryDirectory dir;
    const auto start = std::chrono::steady_clock::now();
    const ProgramRun run = testing::run_program(input, dir.path(), options);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_TRUE(mask_stop_place(run.out).ends_with(":\n" + report(status))) << run.out;
    EXPECT_EQ(run.exit_status, status);
  }
}

// Standard streams that cannot be used: the console's first block (at the
// fourth prompt) fails, or the first answer cannot be read.
TEST(Streams, StandardStreamsThatFail) {
  struct Stream {
    const char* input;
    const char* output;
    int status;
  };
  const Stream cases[] = {{testing::kPipe, "/dev/full", 112},
                          {testing::kPipe, testing::kClosed, 9},
                          {testing::kClosed, testing::kPipe, 9},
                          {"/", testing::kPipe, 5}};
  for (const auto& c : cases) {
    TemporaryDirectory dir;
    RunOptions options;
    options.standard_input = c.input;
    options.standard_output = c.output;
    const ProgramRun run = testing::run_program(kWorkedInput, dir.path(), options);
    EXPECT_EQ(run.exit_status, c.status) << c.input << " " << c.output;
    if (std::string(c.output) == testing::kPipe) {
      EXPECT_EQ(mask_stop_place(run.out), first_lines(kWorkedOut, 2) + report(c.status));
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
  }
}

// The output file is a running program: 32.
TEST(Streams, FileOfARunningProgramIsInUse) {
  TemporaryDirectory dir;
  const std::string busy = dir.path() + "/busy";
  std::filesystem::copy_file("/bin/sleep", busy);
  const pid_t sleeper = ::fork();
  if (sleeper == 0) {
    ::execl(busy.c_str(), "busy", "30", nullptr);
    ::_exit(127);
  }
  ::usleep(200000);
  const int probe = ::open(busy.c_str(), O_WRONLY);
  const bool refused = probe < 0 && errno == ETXTBSY;
  if (probe >= 0) ::close(probe);
  ProgramRun run;
  if (refused) run = testing::run_program(first_lines(kWorkedInput, 8) + busy + "\n", dir.path());
  ::kill(sleeper, SIGKILL);
  ::waitpid(sleeper, nullptr, 0);
  if (!refused) GTEST_SKIP() << "this system lets a running program's file be written";
  EXPECT_EQ(mask_stop_place(run.out), kWorkedOut.substr(0, kWorkedOut.find("Xl(1)")) + report(32));
  EXPECT_EQ(run.exit_status, 32);
}

}  // namespace
}  // namespace blocklevels
