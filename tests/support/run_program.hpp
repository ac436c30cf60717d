// Runs the built program as a user would: answers on standard input, the
// console on standard output, in a chosen working directory.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace blocklevels::testing {

struct ProgramRun {
  std::string out;       // every byte written to standard output
  std::string err;       // every byte written to standard error
  int exit_status = -1;  // -1 when the program did not exit normally
  bool timed_out = false;
};

// Standard input and output are pipes; the input is closed after `input`.
ProgramRun run_program(std::string_view input, const std::string& directory);

// Standard input and output are one pseudo-terminal in raw mode (no echo, no
// line-end translation). For each step the helper waits until the output so
// far ends with `first` and only then types `second`. A step whose text never
// arrives ends the run with `timed_out` set.
ProgramRun run_program_on_terminal(const std::vector<std::pair<std::string, std::string>>& steps,
                                   const std::string& directory);

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
