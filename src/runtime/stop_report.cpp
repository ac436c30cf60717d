#include "runtime/stop_report.hpp"

#include <signal.h>
#include <unistd.h>

#include "runtime/code_place.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels::runtime {
namespace {
StopHook stop_hook = nullptr;
}  // namespace

void set_stop_hook(StopHook hook) {
  stop_hook = hook;
}

std::size_t format_stop_report(char (&out)[kStopReportLength], int error_number,
                               std::uint32_t place) {
  static constexpr char kPrefix[] = "Runtime error ";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t n = 0;
  for (const char c : kPrefix) {
    if (c != '\0') out[n++] = c;
  }
  // Error numbers are 0..255; three characters, right-aligned.
  const unsigned number = static_cast<unsigned>(error_number) & 0xFFu;
  out[n++] = number >= 100 ? static_cast<char>('0' + number / 100) : ' ';
  out[n++] = number >= 10 ? static_cast<char>('0' + number / 10 % 10) : ' ';
  out[n++] = static_cast<char>('0' + number % 10);
  out[n++] = ' ';
  out[n++] = 'a';
  out[n++] = 't';
  out[n++] = ' ';
  for (int shift = 28; shift >= 0; shift -= 4) out[n++] = kHex[(place >> shift) & 0xFu];
  out[n++] = '\r';
  out[n++] = '\n';
  return n;
}

void flush_run_streams() noexcept {
  // The output file first: when it shares standard output with the console,
  // its bytes come before the console's rest and the report.
  output_file().flush_for_stop();
  console().flush_for_stop();
}

void stop_run_at(int error_number, std::uintptr_t code_address) noexcept {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  flush_run_streams();
  char line[kStopReportLength];
  const std::size_t length = format_stop_report(line, error_number, code_offset(code_address));
  std::size_t done = 0;
  while (done < length) {
    const ssize_t n = ::write(STDOUT_FILENO, line + done, length - done);
    if (n <= 0) break;
    done += static_cast<std::size_t>(n);
  }
  _exit(error_number);
}

[[gnu::noinline]] void stop_run(int error_number) {
  // The return address points after the call; one byte back lies inside it,
  // which is what addr2line should name.
  if (stop_hook != nullptr) {
    stop_hook(error_number);
    _exit(error_number);  // a hook that returns still ends the run
  }
  const auto caller = reinterpret_cast<std::uintptr_t>(__builtin_return_address(0));
  stop_run_at(error_number, caller - 1);
}

}  // namespace blocklevels::runtime
