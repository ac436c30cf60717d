// Runs the built program as a user would: answers on standard input, the
// console on standard output, in a chosen working directory.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace blocklevels::testing {

struct ProgramRun {
  std::string out;       // every byte written to standard output
  std::string err;       // every byte written to standard error
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended the program, 0 when none did
  bool timed_out = false;
  bool acted = false;  // RunOptions::when held while the program still ran
};

// What a watcher sees of a run that is still going on.
struct RunSoFar {
  pid_t pid;
  const std::string& out;  // standard output so far (when it is a pipe)
  bool input_taken;        // every byte of the input is written and read
};

// A standard stream given to the program: kPipe connects it to the helper,
// kClosed leaves the descriptor closed, anything else is a path to open.
inline constexpr const char* kPipe = "";
inline constexpr const char* kClosed = "<closed>";

struct RunOptions {
  std::string standard_input = kPipe;
  std::string standard_output = kPipe;
  std::size_t memory_limit = 0;  // bytes of address space (RLIMIT_AS), 0 for none
  // Looked at every few milliseconds while the program runs. The first time
  // it holds, the helper sends `signal`, or with signal 0 closes its end of
  // standard output, as a reader that goes away. Until then the input pipe is
  // kept open after the input.
  std::function<bool(const RunSoFar&)> when;
  int signal = 0;
  std::chrono::seconds time_limit{60};  // then the program is killed and the run timed out
};

// Standard input and output are pipes; the input is closed after `input`.
ProgramRun run_program(std::string_view input, const std::string& directory);
ProgramRun run_program(std::string_view input, const std::string& directory,
                       const RunOptions& options);

// True while the process waits in system call `call` (a SYS_ number) on
// descriptor `descriptor`: a read of its standard input (SYS_read, 0) or a
// write to a standard output nobody reads (SYS_write, 1).
bool waiting_in(pid_t pid, long call, int descriptor);

// Standard input and output are one pseudo-terminal in raw mode (no echo, no
// line-end translation). For each step the helper waits until the output so
// far ends with `first` and only then types `second`. A step whose text never
// arrives ends the run with `timed_out` set.
ProgramRun run_program_on_terminal(const std::vector<std::pair<std::string, std::string>>& steps,
                                   const std::string& directory);

// The console transcript of the dialogue: the empty first line and the first
// `count` prompts, with the bounds shown for this population size and block
// length (a block length of 0 shows no blocks bound: the program stops there).
std::string dialogue_transcript(int lambda, int block_length, std::size_t count = 9);

// A stop report line, its place masked as mask_stop_place leaves it.
std::string masked_stop_report(int error_number);

// The stop report's eight hexadecimal digits replaced by "XXXXXXXX" when they
// are upper-case hexadecimal; anything else is left as it was.
std::string mask_stop_place(std::string text);

// A fresh empty directory, removed with everything in it on destruction.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }
  // The names it holds, sorted.
  std::vector<std::string> entries() const;
  // The contents of a file in it ("" when missing).
  std::string read(const std::string& name) const;

 private:
  std::string path_;
};

}  // namespace blocklevels::testing
