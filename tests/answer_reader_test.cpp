// The file name's line: what the black-box cases cannot tell apart, the
// longest name kept (4096 bytes) and the first one cut.
#include "dialogue/answer_reader.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

namespace blocklevels {
namespace {

TEST(ReadLineText, KeepsAtMost4096BytesAndMarksALongerLine) {
  for (const std::size_t length : {kMaxLineText, kMaxLineText + 1}) {
    const std::string bytes = std::string(length, 'a') + "\r\nnext\n";
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ASSERT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    runtime::InputStream in;
    in.open(fds[0]);
    const LineText line = read_line_text(in);
    EXPECT_EQ(line.text, std::string(kMaxLineText, 'a'));
    EXPECT_EQ(line.too_long, length > kMaxLineText);
    skip_line(in);
    EXPECT_EQ(read_line_text(in).text, "next");
    ::close(fds[0]);
  }
}

}  // namespace
}  // namespace blocklevels
