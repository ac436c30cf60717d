#include "runtime/run_streams.hpp"

namespace blocklevels::runtime {
namespace {
OutputStream console_stream;
OutputStream report_file_stream;
OutputStream table_file_stream;
OutputStream records_stream;
InputStream input_stream;
}  // namespace

OutputStream& console() {
  return console_stream;
}
OutputStream& report_file() {
  return report_file_stream;
}
OutputStream& table_file() {
  return table_file_stream;
}
OutputStream& records() {
  return records_stream;
}
InputStream& standard_input() {
  return input_stream;
}

void detach_run_streams() {
  report_file_stream.detach();
  table_file_stream.detach();
  records_stream.detach();
  console_stream.detach();
  input_stream.open(-1);
}

int failure_code_of(int number) noexcept {
  for (const OutputStream* stream :
       {&console_stream, &report_file_stream, &table_file_stream, &records_stream}) {
    if (stream->result() == number && stream->failure_code() != 0) return stream->failure_code();
  }
  return 0;
}

void flush_run_streams() noexcept {
  report_file_stream.flush_for_stop();
  table_file_stream.flush_for_stop();
  records_stream.flush_for_stop();
  console_stream.flush_for_stop();
}

}  // namespace blocklevels::runtime
