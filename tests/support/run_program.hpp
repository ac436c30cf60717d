// Runs the built program as a user would: arguments, standard input and
// output given or closed, in a chosen working directory, with limits, and
// with a watcher that can type, send signals or go away while it runs.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace blocklevels::testing {

struct ProgramRun {
  std::string out;       // every byte written to standard output
  std::string err;       // every byte written to standard error
  int exit_status = -1;  // -1 when the program did not exit normally
  int signal = 0;        // the signal that ended the program, 0 when none did
  bool timed_out = false;
  bool acted = false;  // the watcher acted while the program still ran
};

// A standard stream given to the program: kPipe connects it to the helper,
// kClosed leaves the descriptor closed, kTerminal makes it a pseudo-terminal
// in raw mode (the helper types on it and reads it; both streams share one
// when both are kTerminal), anything else is a path to open.
inline constexpr const char* kPipe = "";
inline constexpr const char* kClosed = "<closed>";
inline constexpr const char* kTerminal = "<terminal>";

// What a watcher sees of a run that is still going on. It may append to
// `type`, which the helper then sends to standard input.
struct RunSoFar {
  pid_t pid;
  const std::string& out;  // standard output so far (a pipe or the terminal)
  const std::string& err;  // standard error so far (when a pipe)
  bool waiting_for_input;  // all input is sent and the program waits in a read of it
  std::string& type;
};
// A watcher's answer: keep watching, send a signal, or go away: close the
// helper's end of standard output (the terminal: a hang-up).
inline constexpr int kKeepWatching = 0;
inline constexpr int kGoAway = -1;

struct RunOptions {
  std::vector<std::string> args;
  std::string standard_input = kPipe;
  std::string standard_output = kPipe;
  std::string standard_error = kPipe;  // kPipe, kClosed or a path
  // Added to O_WRONLY when standard output or error is a path: O_APPEND
  // as `>>`, O_TRUNC as `>`; none as `1<>`, at its start unchanged.
  int output_flags = 0;
  std::size_t memory_limit = 0;      // bytes of address space (RLIMIT_AS), 0 for none
  std::size_t file_size_limit = 0;   // bytes (RLIMIT_FSIZE, SIGXFSZ ignored), 0 for none
  std::size_t open_files_limit = 0;  // soft and hard RLIMIT_NOFILE, 0 for none
  // Called every few milliseconds until it acts. Until then the input is kept
  // open after what was sent; after it, the input is closed.
  std::function<int(RunSoFar&)> watch;
  std::chrono::seconds time_limit{60};  // then the program is killed and the run timed out
};

ProgramRun run_program(std::string_view input, const std::string& directory,
                       const RunOptions& options = {});

// True while the process waits in system call `call` (a SYS_ number) on
// descriptor `descriptor`.
bool waiting_in(pid_t pid, long call, int descriptor);

// " at " and eight upper-case hexadecimal digits become " at XXXXXXXX".
std::string mask_stop_place(std::string text);

// The processes whose parent is `parent`, from /proc.
std::vector<pid_t> children_of(pid_t parent);
// True while the process runs: not gone, and not a zombie left for whoever
// reaps orphans.
bool running(pid_t pid);

// The contents of a file ("" when it cannot be read).
std::string read_file(const std::string& path);
// The file at `path` made to hold `bytes` (created or replaced).
void write_file(const std::string& path, const std::string& bytes);
// `args` followed by `more`.
std::vector<std::string> with(std::vector<std::string> args, const std::vector<std::string>& more);

// The lines of a text, without their line ends.
std::vector<std::string> lines_of(const std::string& text);
// The fields of a CSV row (no quoting in the program's tables); a row
// ending in a comma has an empty last field.
std::vector<std::string> fields_of(const std::string& row);

// A table as CSV text, its fields found by their columns' names.
class CsvText {
 public:
  explicit CsvText(const std::string& text);
  std::size_t size() const { return rows_.size(); }
  const std::vector<std::string>& header() const { return header_; }
  // Row `row`'s field of the column called `name` (the column must exist).
  const std::string& at(std::size_t row, std::string_view name) const;
  // The rows whose source is `source`, by index.
  std::vector<std::size_t> rows_of(std::string_view source) const;

 private:
  std::vector<std::string> header_;
  std::vector<std::vector<std::string>> rows_;
};

// A fresh empty directory, removed with everything in it on destruction.
class TemporaryDirectory {
 public:
  TemporaryDirectory();
  ~TemporaryDirectory();
  TemporaryDirectory(const TemporaryDirectory&) = delete;
  TemporaryDirectory& operator=(const TemporaryDirectory&) = delete;
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

// The program with `args`, no input, in `dir`.
ProgramRun run_in(const TemporaryDirectory& dir, std::vector<std::string> args);

}  // namespace blocklevels::testing
