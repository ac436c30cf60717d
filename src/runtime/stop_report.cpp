#include "runtime/stop_report.hpp"

#include <signal.h>
#include <unistd.h>

#include <string_view>

#include "arithmetic/stop_numbers.hpp"
#include "runtime/child_processes.hpp"
#include "runtime/code_place.hpp"
#include "runtime/draft_file.hpp"
#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "runtime/signals.hpp"
#include "runtime/standard_error.hpp"

namespace blocklevels::runtime {
namespace {

StopStyle stop_style = StopStyle::report_line;

void write_fully(int fd, const char* bytes, std::size_t size) noexcept {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, bytes + done, size - done);
    if (n <= 0) return;
    done += static_cast<std::size_t>(n);
  }
}

}  // namespace

std::size_t format_stop_words(char* out, std::size_t capacity, int stop_number, std::uint32_t place,
                              std::string_view meaning) {
  char report[kStopReportLength];
  format_stop_report(report, stop_number, place);
  std::string_view number(report + 14, 3);  // right-aligned in three columns
  while (number.front() == ' ') number.remove_prefix(1);
  const std::string_view parts[] = {"blocklevels: stopped: ",
                                    meaning.empty() ? stop_meaning(stop_number) : meaning,
                                    " (status ",
                                    number,
                                    std::string_view(report + 17, 12),
                                    ")\n"};
  std::size_t n = 0;
  for (const std::string_view part : parts) {
    for (const char c : part) {
      if (n < capacity) out[n++] = c;
    }
  }
  return n;
}

void set_stop_style(StopStyle style) {
  stop_style = style;
}

std::size_t format_stop_report(char (&out)[kStopReportLength], int stop_number,
                               std::uint32_t place) {
  static constexpr std::string_view kPrefix = "Runtime error ";
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t n = 0;
  for (const char c : kPrefix) out[n++] = c;
  // Stop numbers are 0..255: three characters, right-aligned.
  const unsigned number = static_cast<unsigned>(stop_number) & 0xFFu;
  out[n++] = number >= 100 ? static_cast<char>('0' + number / 100) : ' ';
  out[n++] = number >= 10 ? static_cast<char>('0' + number / 10 % 10) : ' ';
  out[n++] = static_cast<char>('0' + number % 10);
  for (const char c : std::string_view(" at ")) out[n++] = c;
  for (int shift = 28; shift >= 0; shift -= 4) out[n++] = kHex[(place >> shift) & 0xFu];
  out[n++] = '\r';
  out[n++] = '\n';
  return n;
}

void stop_run_at(int stop_number, std::uintptr_t code_address) noexcept {
  sigset_t all;
  sigfillset(&all);
  sigprocmask(SIG_BLOCK, &all, nullptr);
  end_child_processes();
  remove_draft_file();
  flush_run_streams();
  const std::uint32_t place = code_offset(code_address);
  if (stop_style == StopStyle::report_line) {
    char line[kStopReportLength];
    write_fully(STDOUT_FILENO, line, format_stop_report(line, stop_number, place));
  } else if (stop_style == StopStyle::words) {
    // A stream's failure in the system's words where its number says
    // another thing too (32: a broken pipe, not a file in use).
    const std::string_view meaning = os_error_meaning(failure_code_of(stop_number));
    char line[160];
    write_standard_error({line, format_stop_words(line, sizeof line, stop_number, place, meaning)});
  }
  _exit(stop_number);
}

void end_by_signal(int signal) noexcept {
  for (const int s : kInterrupts) ::signal(s, SIG_DFL);
  end_child_processes();
  remove_draft_file();
  flush_run_streams();
  ::signal(signal, SIG_DFL);
  sigset_t just;
  sigemptyset(&just);
  sigaddset(&just, signal);
  ::raise(signal);
  sigprocmask(SIG_UNBLOCK, &just, nullptr);
  _exit(128 + signal);  // Not reached: the default action ends the process.
}

}  // namespace blocklevels::runtime
