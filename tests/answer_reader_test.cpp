// Reading answers from a stream: tokens, line ends, the end-of-input byte.
#include "driver/answer_reader.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "runtime/stop_numbers.hpp"

namespace blocklevels {
namespace {

// An input stream over a pipe that holds `bytes` and then ends.
class Answers {
 public:
  explicit Answers(const std::string& bytes) {
    int fds[2];
    EXPECT_EQ(::pipe(fds), 0);
    EXPECT_EQ(::write(fds[1], bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    ::close(fds[1]);
    fd_ = fds[0];
    in.open(fd_);
  }
  ~Answers() { ::close(fd_); }
  Answers(const Answers&) = delete;
  Answers& operator=(const Answers&) = delete;
  runtime::InputStream in;

 private:
  int fd_ = -1;
};

const std::string k32Zeros(32, '0');

struct IntegerAnswers {
  std::string input;
  std::vector<std::int32_t> values;  // one read_integer and skip_line each
};

TEST(ReadInteger, OneAnswerPerLine) {
  const IntegerAnswers cases[] = {
      {"\n\n  \n42\n", {42}},
      {"12 34\n56\n", {12, 56}},
      {k32Zeros + "1\n7\n", {0, 7}},  // the 33rd byte is left to skip_line
      {std::string(31, '0') + "9\n", {9}},
      {"5\r\n6\r\n", {5, 6}},
      {"\x01\x02\t\v\f\r 9\n", {9}},
      {std::string(126, ' ') + "12345\n", {12345}},  // across a buffer refill
      {"-$10\n", {-16}},
      {"", {0, 0}},
      {"  \n\n", {0}},
      {"12\x1A"
       "34\n",
       {12, 0}},
  };
  for (const auto& c : cases) {
    Answers answers(c.input);
    for (const std::int32_t expected : c.values) {
      EXPECT_EQ(read_integer(answers.in), expected) << c.input;
      skip_line(answers.in);
    }
    EXPECT_EQ(answers.in.result(), 0) << c.input;
  }
}

TEST(ReadInteger, InvalidTokenRecords106AndTheLineIsStillSkipped) {
  for (const std::string input : {"12a 5\n7\n", "1,000\n7\n",
                                  "\xA0"
                                  "5\n7\n",
                                  "+-5\n7\n"}) {
    Answers answers(input);
    read_integer(answers.in);
    skip_line(answers.in);
    EXPECT_EQ(answers.in.result(), runtime::kInvalidNumericInput) << input;
    EXPECT_EQ(read_integer(answers.in), 7) << input;
    EXPECT_EQ(answers.in.result(), runtime::kInvalidNumericInput)
        << input;  // the first failure stays
  }
}

TEST(ReadInteger, EndOfInputByteStaysUntilALineOfTextTakesIt) {
  Answers answers(
      "\x1A"
      "5\n");
  EXPECT_EQ(read_integer(answers.in), 0);
  skip_line(answers.in);
  EXPECT_EQ(read_integer(answers.in), 0);
  const LineText text = read_line_text(answers.in);
  EXPECT_EQ(text.text, "");
  EXPECT_EQ(read_integer(answers.in), 5);
  EXPECT_EQ(answers.in.result(), 0);
}

struct RealAnswer {
  std::string input;
  long double value;
  int result;
};

TEST(ReadReal, OneAnswer) {
  const RealAnswer cases[] = {
      {"\n 0.5\r\n", 0.5L, 0},
      {"0.3 7\n", 3.0L / 10.0L, 0},
      {std::string(63, '0') + "9\n", 9.0L, 0},
      {std::string(64, '0') + "9\n", 0.0L, 0},  // the 65th byte is not read
      {"", 0.0L, 0},
      {"\x1A"
       "5\n",
       0.0L, 0},
      {"1,5\n", 0.0L, runtime::kInvalidNumericInput},
      {"1e\n", 0.0L, runtime::kInvalidNumericInput},
      {"-\n", 0.0L, runtime::kInvalidNumericInput},
  };
  for (const auto& c : cases) {
    Answers answers(c.input);
    const long double value = read_real(answers.in);
    skip_line(answers.in);
    EXPECT_EQ(answers.in.result(), c.result) << c.input;
    if (c.result == 0) {
      EXPECT_EQ(value, c.value) << c.input;
    }
  }
}

struct LineAnswers {
  std::string input;
  std::vector<std::string> lines;  // one read_line_text and skip_line each
};

TEST(ReadLineText, TheRestOfTheLineAsTyped) {
  const LineAnswers cases[] = {
      {"  my run.txt  \n", {"  my run.txt  "}},
      {"a\rb\r\nnext\n", {"ab", "next"}},
      {"a\r", {"a"}},
      {"abc\ndef", {"abc", "def", ""}},
      {"ab\x1A"
       "cd\nef\n",
       {"ab", "ef"}},  // 0x1A taken: the line's rest is skipped, not the end
      {"r\xE9sum\xE9\n", {"r\xE9sum\xE9"}},
      {"", {"", ""}},
      {std::string(4096, 'a') + "\nb\n", {std::string(4096, 'a'), "b"}},
  };
  for (const auto& c : cases) {
    Answers answers(c.input);
    for (const auto& expected : c.lines) {
      const LineText line = read_line_text(answers.in);
      EXPECT_EQ(line.text, expected) << c.input.substr(0, 20);
      EXPECT_FALSE(line.too_long);
      skip_line(answers.in);
    }
    EXPECT_EQ(answers.in.result(), 0);
  }
}

TEST(ReadLineText, StopsBeforeTheLineFeed) {
  Answers answers("abc\ndef\n");
  EXPECT_EQ(read_line_text(answers.in).text, "abc");
  EXPECT_EQ(read_line_text(answers.in).text, "");
  skip_line(answers.in);
  EXPECT_EQ(read_line_text(answers.in).text, "def");
}

TEST(ReadLineText, LongerLineIsCutAt4096AndReported) {
  Answers answers(std::string(5000, 'a') + "\nnext\n");
  const LineText line = read_line_text(answers.in);
  EXPECT_EQ(line.text, std::string(kMaxLineText, 'a'));
  EXPECT_TRUE(line.too_long);
  skip_line(answers.in);
  EXPECT_EQ(read_line_text(answers.in).text, "next");
}

}  // namespace
}  // namespace blocklevels
