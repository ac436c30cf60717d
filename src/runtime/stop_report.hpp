// The one way a run stops on a failure: the output file's buffer is written
// out, then the console's, then the line "Runtime error NNN at XXXXXXXX" with
// CR LF on standard output, and the process exits with the error number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace blocklevels::runtime {

// The report line without its line end is 29 characters; 31 with CR LF.
inline constexpr std::size_t kStopReportLength = 31;

// Formats the report line, CR LF included, into `out`; returns its length.
std::size_t format_stop_report(char (&out)[kStopReportLength], int error_number,
                               std::uint32_t place);

// Stops the run; the place reported is the caller's code address.
[[noreturn]] void stop_run(int error_number);

// Stops the run at a given code address. Async-signal-safe.
[[noreturn]] void stop_run_at(int error_number, std::uintptr_t code_address) noexcept;

// Writes out the output file's buffer, then the console's. Async-signal-safe.
void flush_run_streams() noexcept;

// For in-process harnesses (fuzzing, tests) only: when set, stop_run hands
// the error number to `hook` instead of ending the process. The hook must not
// return (it throws or jumps back into the harness). The program never sets it.
using StopHook = void (*)(int error_number);
void set_stop_hook(StopHook hook);

}  // namespace blocklevels::runtime
