// The stop report line and the error numbers it carries.
#include "runtime/stop_report.hpp"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "runtime/os_error.hpp"
#include "runtime/run_streams.hpp"
#include "support/run_program.hpp"

namespace blocklevels::runtime {
namespace {

struct Report {
  int error_number;
  std::uint32_t place;
  const char* line;
};

TEST(StopReport, ExactBytes) {
  const Report cases[] = {
      {106, 0xABCD, "Runtime error 106 at 0000ABCD\r\n"},
      {3, 0x12345678, "Runtime error   3 at 12345678\r\n"},
      {5, 0, "Runtime error   5 at 00000000\r\n"},
      {32, 0xFFFFFFFF, "Runtime error  32 at FFFFFFFF\r\n"},
      {200, 0xdeadbeef, "Runtime error 200 at DEADBEEF\r\n"},
      {255, 0x0A0B0C0D, "Runtime error 255 at 0A0B0C0D\r\n"},
  };
  for (const auto& c : cases) {
    char out[kStopReportLength];
    const std::string line(out, format_stop_report(out, c.error_number, c.place));
    EXPECT_EQ(line, c.line);
    EXPECT_EQ(line.find('\r'), 29u);
  }
}

TEST(StopReport, ContinuesTheConsoleLineAndExitsWithTheNumber) {
  int fds[2];
  ASSERT_EQ(::pipe(fds), 0);
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(fds[1], STDOUT_FILENO);
    console().open(STDOUT_FILENO, LineEnd::lf, false);
    console().put("The number of blocks l (at most ");
    stop_run(200);
  }
  ::close(fds[1]);
  std::string out;
  char chunk[256];
  for (ssize_t n; (n = ::read(fds[0], chunk, sizeof chunk)) > 0;) {
    out.append(chunk, static_cast<std::size_t>(n));
  }
  ::close(fds[0]);
  int status = 0;
  ASSERT_EQ(::waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 200);
  EXPECT_EQ(testing::mask_stop_place(out),
            "The number of blocks l (at most Runtime error 200 at XXXXXXXX\r\n");
}

TEST(OsErrorNumber, UsersSeeTheDocumentedNumbers) {
  const std::pair<int, int> cases[] = {
      {ENOENT, 3},         {ENOTDIR, 3},     {EACCES, 5},    {EPERM, 5},
      {EROFS, 5},          {EISDIR, 5},      {ETXTBSY, 32},  {EBUSY, 32},
      {ENAMETOOLONG, 123}, {EILSEQ, 123},    {ENOSPC, 112},  {EDQUOT, 112},
      {EMFILE, EMFILE},    {EINVAL, EINVAL}, {0x1234, 0x34}, {256 + 7, 7},
  };
  for (const auto& [code, number] : cases) EXPECT_EQ(os_error_number(code), number) << code;
}

}  // namespace
}  // namespace blocklevels::runtime
