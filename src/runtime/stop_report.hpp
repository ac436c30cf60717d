// How a process ends on a failure: the buffered output is written out (the
// files first, then the console), the stop is reported, any child processes
// are ended, and the process exits with the stop number. A front end calls
// it with the Stop it caught; the trap handlers call it with the failing
// instruction's address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace blocklevels::runtime {

// How a stop is reported:
//  - report_line: "Runtime error NNN at XXXXXXXX" CR LF on standard output,
//    continuing the current console line (the dialogue);
//  - words: one line on standard error naming the stop in words, with the
//    number and the place (the command line);
//  - silent: nothing; the parent process reports it (a study's points).
enum class StopStyle { report_line, words, silent };
void set_stop_style(StopStyle style);

// The report line without its line end is 29 characters; 31 with CR LF.
inline constexpr std::size_t kStopReportLength = 31;

// Formats the report line, CR LF included, into `out`; returns its length.
std::size_t format_stop_report(char (&out)[kStopReportLength], int stop_number,
                               std::uint32_t place);

// "blocklevels: stopped: <meaning> (status N at XXXXXXXX)" and LF, the
// words style's line, into `out`; returns its length (at most `capacity`).
// The meaning is the stop number's unless `meaning` is given.
// Async-signal-safe.
std::size_t format_stop_words(char* out, std::size_t capacity, int stop_number, std::uint32_t place,
                              std::string_view meaning = {});

// Stops the run at a given code address. Async-signal-safe.
[[noreturn]] void stop_run_at(int stop_number, std::uintptr_t code_address) noexcept;

// Ends the process by `signal` (an interrupt) after writing out the buffered
// output and ending any child processes; a second interrupt during the
// writing ends it at once. Async-signal-safe.
[[noreturn]] void end_by_signal(int signal) noexcept;

}  // namespace blocklevels::runtime
