// The process-wide streams of a run. The stop path and the interrupt
// handlers write out their buffers: the files first, then the console, so
// that when the report file shares standard output its bytes come before
// the console's rest and the stop report.
#pragma once

#include "runtime/text_stream.hpp"

namespace blocklevels::runtime {

OutputStream& console();      // standard output, LF line ends
OutputStream& report_file();  // the report file (CR LF), or standard output as a second stream
OutputStream& table_file();   // the CSV table, when one is written
OutputStream& records();      // in a point's process: its records to the parent
InputStream& standard_input();

// In a new child process: detaches every stream from what the parent still
// owns, so that the parent's buffered bytes are not written twice.
void detach_run_streams();

// The system's error code (errno) of the stream that failed with stop
// number `number`, 0 when none did. Async-signal-safe.
int failure_code_of(int number) noexcept;

// Writes out the buffers of the report file, the table, the records and the
// console, in that order. Async-signal-safe.
void flush_run_streams() noexcept;

}  // namespace blocklevels::runtime
