// An output stream whose reader stalls: an interrupt held back during a
// write statement cuts the write short, and the stop path still writes the
// whole statement, so that the output ends with a whole line.
#include "runtime/text_stream.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "runtime/io_section.hpp"

namespace blocklevels::runtime {
namespace {

void hold(int signal) {
  hold_if_in_section(signal, 0, 0);
}

// In a child process: a pipe filled to the brim, a statement of 40 lines put
// into a stream on it inside a section, a signal that interrupts the
// blocked write; then the pipe is drained while the stop path writes out.
// Exits 0 when what came out ends with the statement's last line, whole.
[[noreturn]] void stalled_reader_then_stop() {
  int ends[2];
  if (::pipe(ends) != 0) _exit(2);
  ::fcntl(ends[1], F_SETFL, O_NONBLOCK);
  std::string filler(4096, 'f');
  std::size_t before = 0;
  for (ssize_t n; (n = ::write(ends[1], filler.data(), filler.size())) > 0;) {
    before += static_cast<std::size_t>(n);
  }
  ::fcntl(ends[1], F_SETFL, 0);
  struct sigaction action = {};
  action.sa_handler = hold;  // no SA_RESTART: the write returns EINTR
  ::sigaction(SIGUSR1, &action, nullptr);
  std::string statement;
  for (int n = 0; n < 40; ++n) statement += "line " + std::to_string(n) + " of the statement\n";
  OutputStream out;
  out.open(ends[1], LineEnd::lf, false);
  const pthread_t self = ::pthread_self();
  // Signals until the put returns: one sent before the section begins is
  // not held, and a slow machine may take long to reach the put.
  std::atomic<bool> put_returned = false;
  std::thread interrupter([self, &put_returned] {
    while (!put_returned) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      if (!put_returned) ::pthread_kill(self, SIGUSR1);
    }
  });
  IoSection section;
  out.put(statement);  // blocks on the full pipe until the signal comes
  put_returned = true;
  interrupter.join();
  if (!section.interrupt_pending()) _exit(3);
  std::string got;
  std::thread reader([&] {
    char chunk[4096];
    for (ssize_t n; (n = ::read(ends[0], chunk, sizeof chunk)) > 0;)
      got.append(chunk, static_cast<std::size_t>(n));
  });
  out.flush_for_stop();
  ::close(ends[1]);
  reader.join();
  const std::string written = got.substr(before);
  _exit(written == statement ? 0 : 1);
}

TEST(OutputStreamDeathTest, AnInterruptedStatementIsWrittenWhole) {
  EXPECT_EXIT(stalled_reader_then_stop(), ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace blocklevels::runtime
