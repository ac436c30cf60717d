// The dialogue seen from outside: the built program run with typed answers in
// a fresh working directory. The run goes on after the header (an opening
// line, reports), so the console is compared up to the last prompt and the
// file up to its eighth line.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::TemporaryDirectory;

const std::string kWorkedTranscript = testing::dialogue_transcript(10, 1);
const std::vector<std::string> kWorkedAnswers = {"10", "0.3", "1", "0",       "1",
                                                 "6",  "1",   "5", "run1.txt"};
const std::string kWorkedHeader =
    "block length=1\r\n"
    "number of blocks=1\r\n"
    "number of block positions with two options acceptable=0\r\n"
    "length of chromosome =1\r\n"
    "Number of fitness levels = 2\r\n"
    "Population size lambda=10\r\n"
    "Pmut=0.30000\r\n"
    "Number of selectable (current best) individuals mu= 5\r\n";

// The worked answers, the one at `index` replaced, cut after `count` lines.
std::string answers(std::size_t index = 99, const std::string& answer = "", std::size_t count = 9) {
  std::string text;
  for (std::size_t i = 0; i < count; ++i) text += (i == index ? answer : kWorkedAnswers[i]) + "\n";
  return text;
}

class Dialogue : public ::testing::Test {
 protected:
  ProgramRun run(const std::string& input) {
    ProgramRun result = testing::run_program(input, dir.path());
    EXPECT_FALSE(result.timed_out);
    EXPECT_EQ(result.err, "");  // nothing ever goes to standard error
    result.out = testing::mask_stop_place(result.out);
    return result;
  }
  TemporaryDirectory dir;
};

TEST_F(Dialogue, WorkedExampleWritesThePromptsAndTheHeader) {
  const std::string typed = answers();
  const std::string inputs[] = {
      typed, "10\r\n0.3\r\n1\r\n0\r\n1\r\n6\r\n1\r\n5\r\nrun1.txt\r\n",
      "\n\n10 99\n  0.3\t7\n1\n\n0\n1\n6\n1\n5\nrun1.txt\n",  // blank lines, second numbers
  };
  for (const auto& input : inputs) {
    const ProgramRun result = run(input);
    EXPECT_TRUE(result.out.starts_with(kWorkedTranscript)) << result.out;
    EXPECT_EQ(dir.entries(), std::vector<std::string>{"run1.txt"});
    EXPECT_TRUE(dir.read("run1.txt").starts_with(kWorkedHeader)) << dir.read("run1.txt");
    EXPECT_EQ(result.exit_status, 0);
    std::filesystem::remove(dir.path() + "/run1.txt");
  }
}

TEST_F(Dialogue, BlockLengthZeroStopsWith200WhileAskingForBlocks) {
  const std::string expected =
      "\nEnter population size (at most 1000000):\nEnter allele mutation probability:\n"
      "Enter block length (at most 300):\n"
      "how many block positions with two options acceptable (at most 0):\n"
      "The number of blocks l (at most Runtime error 200 at XXXXXXXX\r\n";
  // Block length 0 typed, all input ending before it, or ended by 0x1A (\032).
  const std::vector<std::string> inputs = {answers(2, "0"), "", answers(99, "", 1),
                                           answers(99, "", 2), "10\n\0320.3\n1\n0\n1\n"};
  for (const auto& input : inputs) {
    const ProgramRun result = run(input);
    EXPECT_EQ(result.out, expected) << input;
    EXPECT_EQ(result.exit_status, 200);
    EXPECT_TRUE(dir.entries().empty());
  }
}

TEST_F(Dialogue, InvalidNumberAtAnyPromptStopsWith106) {
  for (std::size_t index = 0; index < 8; ++index) {
    const ProgramRun result = run(answers(index, "1,5"));
    EXPECT_EQ(result.out,
              testing::dialogue_transcript(10, 1, index + 1) + testing::masked_stop_report(106))
        << index;
    EXPECT_EQ(result.exit_status, 106);
    EXPECT_TRUE(dir.entries().empty());
  }
}

struct Refused {
  std::string input;
  std::size_t asked;  // prompts written before the stop
};

// No blocks and no step are refused as soon as they are read, also when they
// are 0 because the input ended.
TEST_F(Dialogue, BlocksOrStepBelowOneAreRefusedBeforeAnyFileExists) {
  const Refused cases[] = {
      {answers(4, "0"), 5},    {answers(4, "-1"), 5},   {answers(6, "0"), 7},
      {answers(6, "-5"), 7},   {answers(99, "", 3), 5}, {answers(99, "", 4), 5},
      {answers(99, "", 5), 7}, {answers(99, "", 6), 7},
  };
  for (const auto& c : cases) {
    const ProgramRun result = run(c.input);
    EXPECT_EQ(result.out,
              testing::dialogue_transcript(10, 1, c.asked) + testing::masked_stop_report(106))
        << c.input;
    EXPECT_EQ(result.exit_status, 106);
    EXPECT_TRUE(dir.entries().empty());
  }
}

struct BadName {
  std::string name;
  int error_number;
};

TEST_F(Dialogue, OutputFileThatCannotBeCreatedOrWritten) {
  std::filesystem::create_directory(dir.path() + "/sub");
  std::ofstream(dir.path() + "/plain") << "x";
  const BadName cases[] = {
      {"missing/run1.txt", 3},
      {"missing/deeper/run1.txt", 3},
      {"plain/run1.txt", 3},
      {"sub", 5},
      {"sub/", 5},
      {"/proc/version", 5},  // exists, not writable
      {"sub/" + std::string(256, 'n'), 123},
      {"/dev/full", 112},  // created, then the header's first block fails
      {std::string(300, 'n'), 123},
      {std::string(4096, 'n'), 123},
      {std::string(5000, 'n'), 123},
      {std::string("a\0b", 3), 123},
  };
  for (const auto& c : cases) {
    const ProgramRun result = run(answers(8, c.name));
    EXPECT_EQ(result.out, kWorkedTranscript + testing::masked_stop_report(c.error_number))
        << c.name.substr(0, 20);
    EXPECT_EQ(result.exit_status, c.error_number);
    EXPECT_EQ(dir.entries(), (std::vector<std::string>{"plain", "sub"}));
  }
}

TEST_F(Dialogue, FileOfARunningProgramIsInUse) {
  const std::string busy = dir.path() + "/busy";
  std::filesystem::copy_file("/bin/sleep", busy);
  std::filesystem::permissions(busy, std::filesystem::perms::owner_all);
  const pid_t sleeper = ::fork();
  if (sleeper == 0) {
    ::execl(busy.c_str(), "busy", "30", nullptr);
    ::_exit(127);
  }
  ::usleep(200000);
  const int probe = ::open(busy.c_str(), O_WRONLY);
  const int probe_errno = errno;
  if (probe >= 0) ::close(probe);
  if (probe < 0 && probe_errno == ETXTBSY) {
    const ProgramRun result = run(answers(8, busy));
    EXPECT_EQ(result.out, kWorkedTranscript + testing::masked_stop_report(32));
    EXPECT_EQ(result.exit_status, 32);
  }
  ::kill(sleeper, SIGKILL);
  ::waitpid(sleeper, nullptr, 0);
  if (probe >= 0 || probe_errno != ETXTBSY) GTEST_SKIP() << "running programs can be written here";
}

TEST_F(Dialogue, NameIsUsedAsTypedAndAnExistingFileIsReplaced) {
  for (const std::string name : {"my run.txt", " spaced ", "run1.txt"}) {
    std::ofstream(dir.path() + "/run1.txt") << std::string(10000, 'Z');
    EXPECT_EQ(run(answers(8, name)).exit_status, 0);
    const std::string file = dir.read(name);
    EXPECT_TRUE(file.starts_with(kWorkedHeader)) << name;
    EXPECT_EQ(file.find('Z'), std::string::npos) << name;
    EXPECT_TRUE(std::filesystem::exists(dir.path() + "/" + name));
    EXPECT_EQ(dir.entries().size(), name == "run1.txt" ? 1u : 2u);
    std::filesystem::remove(dir.path() + "/" + name);
  }
}

// Standard output shared by the console and the file stream: each stream
// writes a block when its own 128 bytes are full; at the end the file is
// closed first, so its rest goes out before the console's.
struct SharedOutput {
  std::string out, console, file;
  void write(std::string& stream, const std::string& text) {
    stream += text;
    for (; stream.size() >= 128; stream.erase(0, 128)) out += stream.substr(0, 128);
  }
};

// With an empty name the header, the opening line and the file's report lines
// go to standard output too. The report values are those of the worked
// example; with mu = 0 no shortfall remains, so every report is row l of the
// matrix, 0.7.
TEST_F(Dialogue, EmptyNameSharesStandardOutputInWholeBlocks) {
  using Reports = std::vector<std::pair<std::string, std::string>>;  // console, file
  struct Case {
    std::string input;
    std::string mu;
    Reports reports;
  };
  const Reports worked = {{"0.100", "0.100000"}, {"0.220", "0.220000"}, {"0.364", "0.364000"},
                          {"0.537", "0.536800"}, {"0.700", "0.700000"}, {"0.700", "0.700000"}};
  const Case cases[] = {{answers(8, ""), "5", worked},
                        {answers(99, "", 8), "5", worked},  // input ends before the name
                        {answers(99, "", 7), "0", Reports(6, {"0.700", "0.700000"})}};
  for (const auto& c : cases) {
    SharedOutput expected;
    expected.write(expected.console, kWorkedTranscript);
    expected.write(expected.file,
                   kWorkedHeader.substr(0, kWorkedHeader.size() - 3) + c.mu + "\r\n");
    expected.write(expected.file, "  Xl_1(1)= 0.000 <=0.000\r\n");
    for (std::size_t t = 1; t <= 6; ++t) {
      const std::string label = "Xl(" + std::to_string(t) + ") <=";
      expected.write(expected.console, label + c.reports[t - 1].first + "\n");
      expected.write(expected.file, label + "  " + c.reports[t - 1].second + "\r\n");
    }
    const ProgramRun result = run(c.input);
    EXPECT_EQ(result.out, expected.out + expected.file + expected.console);
    EXPECT_EQ(result.exit_status, 0);
    EXPECT_TRUE(dir.entries().empty());
  }
}

TEST_F(Dialogue, OnATerminalEachPromptComesBeforeItsAnswer) {
  std::vector<std::pair<std::string, std::string>> steps;
  for (std::size_t i = 0; i < 9; ++i) {
    const std::string prompt = testing::dialogue_transcript(10, 1, i + 1)
                                   .substr(testing::dialogue_transcript(10, 1, i).size());
    steps.emplace_back(prompt, kWorkedAnswers[i] + "\n");
  }
  const ProgramRun result = testing::run_program_on_terminal(steps, dir.path());
  EXPECT_FALSE(result.timed_out) << result.out;
  EXPECT_TRUE(result.out.starts_with(kWorkedTranscript)) << result.out;
  EXPECT_TRUE(dir.read("run1.txt").starts_with(kWorkedHeader));
  EXPECT_EQ(result.exit_status, 0);
}

struct Advice {
  std::size_t index;
  std::string answer;
  std::string transcript;   // the whole dialogue as the console shows it
  std::string header_line;  // "" when the header is not looked at
};

TEST_F(Dialogue, BoundsAreAdviceOnly) {
  // The bounds shown follow the answers: b, then 300 div b (truncated).
  const std::string worked = testing::dialogue_transcript(10, 1);
  auto with_block_length = [&](const std::string& b, const std::string& blocks) {
    std::string text = worked;
    text.replace(text.find("(at most 1):"), 12, "(at most " + b + "):");
    text.replace(text.find("(at most 300):\nThe final"), 14, "(at most " + blocks + "):");
    return text;
  };
  const Advice cases[] = {
      {2, "7", with_block_length("7", "42"), "block length=7\r\n"},
      {2, "301", with_block_length("301", "0"), "block length=301\r\n"},
      {2, "-7", with_block_length("-7", "-42"), ""},
      {7, "50", worked, "Number of selectable (current best) individuals mu= 50\r\n"},
      {3, "5", worked, "number of block positions with two options acceptable=5\r\n"},
      {1, "0.01", worked, "Pmut=0.01000\r\n"},
  };
  for (const auto& c : cases) {
    const ProgramRun result = run(answers(c.index, c.answer));
    EXPECT_TRUE(result.out.starts_with(c.transcript)) << result.out;
    if (!c.header_line.empty()) {
      EXPECT_NE(dir.read("run1.txt").find(c.header_line), std::string::npos) << c.header_line;
    }
    std::filesystem::remove(dir.path() + "/run1.txt");
  }
}

}  // namespace
}  // namespace blocklevels
