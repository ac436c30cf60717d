// The report lines against a literal assembly of their text: labels, t and
// each value formatted on its own, for runs that repeat vectors (as settled
// runs do), that share some of the three values and not others, and for
// one, two and three levels shown.
#include "output/report_text.hpp"

#include <gtest/gtest.h>
#include <sys/mman.h>
#include <unistd.h>

#include <random>
#include <string>
#include <vector>

namespace blocklevels {
namespace {

// An output stream on an anonymous in-memory file, and what reached it.
class MemoryStream {
 public:
  explicit MemoryStream(runtime::LineEnd line_end) : fd_(::memfd_create("report", 0)) {
    stream.open(fd_, line_end, false);
  }
  ~MemoryStream() { ::close(fd_); }
  std::string written() {
    stream.close();
    std::string bytes(static_cast<std::size_t>(::lseek(fd_, 0, SEEK_END)), '\0');
    if (::pread(fd_, bytes.data(), bytes.size(), 0) < 0) bytes.clear();
    return bytes;
  }
  runtime::OutputStream stream;

 private:
  int fd_;
};

std::string literal_line(const std::vector<double>& tail, std::int64_t t, bool console) {
  const char* labels[] = {"Xl(", console ? "  X_(l-1)(" : "  Xl_1(", "  X_(l-2)("};
  std::string line;
  for (std::size_t n = 0; n < 3 && n < tail.size(); ++n) {
    char value[kFixedTextCapacity];
    line += labels[n] + std::to_string(t) + ") <=";
    line.append(value,
                format_fixed(value, tail[tail.size() - 1 - n], console ? 3 : 10, console ? 3 : 6));
  }
  return line + (console ? "\n" : "\r\n");
}

TEST(ReportLines, EqualTheLiteralTextOfEveryReport) {
  std::mt19937_64 random(4711);
  for (std::int32_t l = 1; l <= 5; ++l) {
    // Few distinct values, so that vectors recur whole and in part, and t
    // crosses from one digit count to the next.
    const double values[] = {0.0, 0.0625, 0.4999995, 0.9995, 1.0 / 3, 5e-7, -0.0, 12.5};
    std::vector<std::vector<double>> recent;
    MemoryStream console(runtime::LineEnd::lf), file(runtime::LineEnd::crlf);
    ReportLines lines(&console.stream, &file.stream, l);
    std::string expected_console, expected_file = "  Xl_1(7)= 0.000 <=0.000\r\n";
    lines.start(7);
    for (std::int64_t t = 7; t < 7 * 400; t += 7) {
      std::vector<double> tail(static_cast<std::size_t>(l));
      if (!recent.empty() && random() % 2 == 0) {
        tail = recent[random() % recent.size()];
        tail[random() % tail.size()] = values[random() % std::size(values)];
      } else {
        for (double& v : tail) v = values[random() % std::size(values)];
      }
      recent.push_back(tail);
      lines.report(t, tail);
      expected_console += literal_line(tail, t, true);
      expected_file += literal_line(tail, t, false);
    }
    EXPECT_EQ(console.written(), expected_console) << "l=" << l;
    EXPECT_EQ(file.written(), expected_file) << "l=" << l;
  }
}

}  // namespace
}  // namespace blocklevels
