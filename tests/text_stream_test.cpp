// Output streams: 128-byte blocks off a terminal, each statement on one, and
// failures kept as the stream's result.
#include "runtime/text_stream.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include <string>

namespace blocklevels::runtime {
namespace {

// What arrives at `fd` within `wait_ms`, and right after it.
std::string arrived(int fd, int wait_ms = 0) {
  std::string bytes;
  pollfd ready{fd, POLLIN, 0};
  for (int wait = wait_ms; ::poll(&ready, 1, wait) > 0; wait = wait_ms < 50 ? wait_ms : 50) {
    char chunk[512];
    const ssize_t n = ::read(fd, chunk, sizeof chunk);
    if (n <= 0) break;
    bytes.append(chunk, static_cast<std::size_t>(n));
  }
  return bytes;
}

std::string text_of(char c, std::size_t n) {
  return std::string(n, c);
}

class PipeOutput : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(::pipe2(fds_, O_NONBLOCK), 0);
    stream.open(fds_[1], LineEnd::lf, true);
  }
  void TearDown() override {
    ::close(fds_[0]);
    if (stream.is_open()) stream.close();
  }
  std::string read_side() { return arrived(fds_[0]); }
  OutputStream stream;
  int fds_[2] = {-1, -1};
};

TEST_F(PipeOutput, ArrivesInWhole128ByteBlocksAndTheRestOnClose) {
  stream.put(text_of('a', 100));
  stream.end_statement();
  EXPECT_EQ(read_side(), "");
  stream.put(text_of('b', 28));
  EXPECT_EQ(read_side(), text_of('a', 100) + text_of('b', 28));
  stream.put(text_of('c', 300));
  stream.end_statement();
  EXPECT_EQ(read_side(), text_of('c', 256));
  stream.put_line_end();
  stream.close();
  EXPECT_EQ(read_side(), text_of('c', 44) + "\n");
  EXPECT_EQ(stream.result(), 0);
}

TEST_F(PipeOutput, WritingOutForAStopSendsTheBufferedRest) {
  stream.put("Enter block length");
  stream.flush_for_stop();
  EXPECT_EQ(read_side(), "Enter block length");
}

TEST(LineEnds, CrLfOrLf) {
  for (const auto& [line_end, bytes] : {std::pair{LineEnd::crlf, std::string("x\r\n")},
                                        std::pair{LineEnd::lf, std::string("x\n")}}) {
    int fds[2];
    ASSERT_EQ(::pipe2(fds, O_NONBLOCK), 0);
    OutputStream stream;
    stream.open(fds[1], line_end, false);
    stream.put("x");
    stream.put_line_end();
    stream.close();
    EXPECT_EQ(arrived(fds[0]), bytes);
    // Not owned: the descriptor stays open.
    EXPECT_EQ(::write(fds[1], "y", 1), 1);
    ::close(fds[0]);
    ::close(fds[1]);
  }
}

TEST(TerminalOutput, EachStatementIsWrittenAtOnce) {
  int master = -1, terminal = -1;
  ASSERT_EQ(::openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
  termios mode{};
  ::tcgetattr(terminal, &mode);
  ::cfmakeraw(&mode);  // bytes pass unchanged
  ::tcsetattr(terminal, TCSANOW, &mode);
  OutputStream stream;
  stream.open(terminal, LineEnd::lf, true);
  stream.put("Output file name:");
  stream.put_line_end();
  EXPECT_EQ(arrived(master, 200), "");
  stream.end_statement();
  EXPECT_EQ(arrived(master, 2000), "Output file name:\n");
  stream.close();
  EXPECT_EQ(stream.result(), 0);
  ::close(master);
}

TEST(FailedOutput, DiskFullIsRecordedAs112) {
  const int full = ::open("/dev/full", O_WRONLY);
  ASSERT_GE(full, 0);
  OutputStream stream;
  stream.open(full, LineEnd::crlf, false);
  stream.put(text_of('h', 127));
  EXPECT_EQ(stream.result(), 0);  // nothing written yet
  stream.put("h");
  EXPECT_EQ(stream.result(), 112);
  stream.put(text_of('h', 500));
  EXPECT_EQ(stream.result(), 112);

  OutputStream rest;
  rest.open(full, LineEnd::crlf, false);
  rest.put("short");
  rest.close();
  EXPECT_EQ(rest.result(), 112);
  ::close(full);
}

}  // namespace
}  // namespace blocklevels::runtime
