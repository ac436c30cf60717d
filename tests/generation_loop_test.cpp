// Whole runs of the built program: the console and the output file byte for
// byte, against the worked runs and against the literal evaluation.
#include <gtest/gtest.h>

#include <random>
#include <sstream>
#include <string>

#include "driver/number_text.hpp"
#include "support/reference_model.hpp"
#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::TemporaryDirectory;

std::string prompts(std::int32_t lambda, std::int32_t b) {
  return testing::dialogue_transcript(lambda, b);
}

std::string pmut_text(long double x) {
  char text[kFixedTextCapacity];
  return std::string(text, format_fixed(text, x, 5, 5));
}

std::string header(const reference::RunParameters& p) {
  const auto& s = p.shape;
  return "block length=" + std::to_string(s.b) + "\r\nnumber of blocks=" + std::to_string(s.l) +
         "\r\nnumber of block positions with two options acceptable=" + std::to_string(s.acc) +
         "\r\nlength of chromosome =" + std::to_string(s.l * s.b) +
         "\r\nNumber of fitness levels = " + std::to_string(s.l + 1) +
         "\r\nPopulation size lambda=" + std::to_string(p.lambda) +
         "\r\nPmut=" + pmut_text(p.Pmut) +
         "\r\nNumber of selectable (current best) individuals mu= " + std::to_string(p.mu) + "\r\n";
}

std::string answers(const reference::RunParameters& p, const std::string& pmut_typed) {
  std::ostringstream out;
  out << p.lambda << '\n'
      << pmut_typed << '\n'
      << p.shape.b << '\n'
      << p.shape.acc << '\n'
      << p.shape.l << '\n'
      << p.final_iteration << '\n'
      << p.step_generations << '\n'
      << p.mu << "\nout.txt\n";
  return out.str();
}

struct Outcome {
  ProgramRun run;
  std::string file;
};

Outcome run(const std::string& input) {
  TemporaryDirectory directory;
  Outcome outcome{testing::run_program(input, directory.path()), ""};
  outcome.file = directory.read("out.txt");
  return outcome;
}

TEST(WholeRun, FirstWorkedRun) {
  const Outcome o = run("10\n0.3\n1\n0\n1\n6\n1\n5\nout.txt\n");
  EXPECT_EQ(o.run.exit_status, 0);
  EXPECT_EQ(o.run.out, prompts(10, 1) +
                           "Xl(1) <=0.100\nXl(2) <=0.220\nXl(3) <=0.364\n"
                           "Xl(4) <=0.537\nXl(5) <=0.700\nXl(6) <=0.700\n");
  EXPECT_EQ(o.file,
            "block length=1\r\nnumber of blocks=1\r\n"
            "number of block positions with two options acceptable=0\r\n"
            "length of chromosome =1\r\nNumber of fitness levels = 2\r\n"
            "Population size lambda=10\r\nPmut=0.30000\r\n"
            "Number of selectable (current best) individuals mu= 5\r\n"
            "  Xl_1(1)= 0.000 <=0.000\r\n"
            "Xl(1) <=  0.100000\r\nXl(2) <=  0.220000\r\nXl(3) <=  0.364000\r\n"
            "Xl(4) <=  0.536800\r\nXl(5) <=  0.700000\r\nXl(6) <=  0.700000\r\n");
}

TEST(WholeRun, SecondWorkedRunWithTwoLevels) {
  const Outcome o = run("20\n0.1\n3\n1\n2\n6\n2\n5\nout.txt\n");
  EXPECT_EQ(o.run.exit_status, 0);
  EXPECT_EQ(o.run.out, prompts(20, 3) +
                           "Xl(2) <=0.039  X_(l-1)(2) <=0.464\n"
                           "Xl(4) <=0.335  X_(l-1)(4) <=0.863\n"
                           "Xl(6) <=0.572  X_(l-1)(6) <=0.940\n");
  EXPECT_EQ(o.file,
            "block length=3\r\nnumber of blocks=2\r\n"
            "number of block positions with two options acceptable=1\r\n"
            "length of chromosome =6\r\nNumber of fitness levels = 3\r\n"
            "Population size lambda=20\r\nPmut=0.10000\r\n"
            "Number of selectable (current best) individuals mu= 5\r\n"
            "  Xl_1(2)= 0.000 <=0.000\r\n"
            "Xl(2) <=  0.039295  Xl_1(2) <=  0.463576\r\n"
            "Xl(4) <=  0.334630  Xl_1(4) <=  0.863440\r\n"
            "Xl(6) <=  0.571536  Xl_1(6) <=  0.940464\r\n");
}

// Report times and label sets: the console and file lines of the literal run.
TEST(WholeRun, ReportTimesAndLabelsMatchTheLiteralRun) {
  struct Shape {
    std::int32_t l, final_iteration, step;
    long double x;
    const char* typed;
  };
  const Shape shapes[] = {
      {3, 2, 5, 0.2L, "0.2"},   // final < step: one report, at t = step
      {3, 9, 3, 0.2L, "0.2"},   // final = 3 * step: t = 3, 6, 9
      {1, 4, 1, 0.2L, "0.2"},   // one level: "Xl(" only
      {2, 4, 1, 0.2L, "0.2"},   // two levels
      {4, 4, 2, 0.2L, "0.2"},   // three parts at most
      {3, 5, 1, 0.0L, "0"},     // no mutation: zeros throughout
      {3, 10, 4, 0.2L, "0.2"},  // last report at 8, the last multiple within 10
  };
  for (const Shape& s : shapes) {
    reference::RunParameters p;
    p.lambda = 30;
    p.mu = 7;
    p.Pmut = s.x;
    p.shape = {2, 1, s.l};
    p.final_iteration = s.final_iteration;
    p.step_generations = s.step;
    const Outcome o = run(answers(p, s.typed));
    const reference::RunText expected = reference::run(p);
    EXPECT_EQ(o.run.exit_status, 0);
    EXPECT_EQ(o.run.out, prompts(p.lambda, 2) + expected.console_reports) << s.l << " " << s.step;
    EXPECT_EQ(o.file, header(p) + expected.file_after_header) << s.l << " " << s.step;
  }
}

// Fixed-seed whole runs, console and file bytes, against the literal program
// path (literal matrix, literal generations, every generation computed).
TEST(WholeRun, RandomRunsEqualTheLiteralProgramPath) {
  std::mt19937_64 random(99173);
  for (int n = 0; n < 40; ++n) {
    reference::RunParameters p;
    p.shape.b = std::uniform_int_distribution<std::int32_t>(1, 8)(random);
    p.shape.acc = std::uniform_int_distribution<std::int32_t>(0, p.shape.b)(random);
    p.shape.l = std::uniform_int_distribution<std::int32_t>(1, 12)(random);
    p.lambda = std::uniform_int_distribution<std::int32_t>(1, 100)(random);
    p.mu = std::uniform_int_distribution<std::int32_t>(1, p.lambda)(random);
    p.step_generations = std::uniform_int_distribution<std::int32_t>(1, 5)(random);
    p.final_iteration = std::uniform_int_distribution<std::int32_t>(0, 40)(random);
    // Typed with 4 decimals, so that the program reads the same value: the
    // digits as an integer divided by 10^4, correctly rounded.
    const int ten_thousandths = std::uniform_int_distribution<int>(0, 5000)(random);
    p.Pmut = static_cast<long double>(ten_thousandths) / 10000;
    char typed[16];
    std::snprintf(typed, sizeof typed, "0.%04d", ten_thousandths);
    const Outcome o = run(answers(p, typed));
    const reference::RunText expected = reference::run(p);
    std::ostringstream what;
    what << "b=" << p.shape.b << " acc=" << p.shape.acc << " l=" << p.shape.l
         << " lambda=" << p.lambda << " mu=" << p.mu << " Pmut=" << typed
         << " final=" << p.final_iteration << " step=" << p.step_generations;
    ASSERT_EQ(o.run.exit_status, 0) << what.str();
    ASSERT_EQ(o.run.out, prompts(p.lambda, p.shape.b) + expected.console_reports) << what.str();
    ASSERT_EQ(o.file, header(p) + expected.file_after_header) << what.str();
  }
}

TEST(WholeRun, NoWrapAroundNearTheLargestGenerationCount) {
  // t = 1500000000, then t + step passes 2147483647: one report, then the end
  // (a 32-bit t would wrap to a negative count and never pass the final one).
  const Outcome o = run("10\n0.3\n1\n0\n1\n2147483647\n1500000000\n5\nout.txt\n");
  EXPECT_EQ(o.run.exit_status, 0);
  EXPECT_FALSE(o.run.timed_out);
  EXPECT_EQ(o.run.out, prompts(10, 1) + "Xl(1500000000) <=0.700\n");
  const std::string tail = "  Xl_1(1500000000)= 0.000 <=0.000\r\nXl(1500000000) <=  0.700000\r\n";
  ASSERT_GE(o.file.size(), tail.size());
  EXPECT_EQ(o.file.substr(o.file.size() - tail.size()), tail);
  // The largest final iteration and step: t = 2147483647 reported once.
  const Outcome last = run("10\n0.3\n1\n0\n1\n2147483647\n2147483647\n5\nout.txt\n");
  EXPECT_EQ(last.run.exit_status, 0);
  EXPECT_EQ(last.run.out, prompts(10, 1) + "Xl(2147483647) <=0.700\n");
}

TEST(WholeRunStops, LambdaZeroStopsAtTheFirstSelectionFactor) {
  // mu != 0: division by zero, 200; mu = 0 too: 0/0, 207. The file keeps its
  // header and the opening line.
  const struct {
    const char* input;
    int error;
  } cases[] = {{"0\n0.3\n1\n0\n1\n6\n1\n5\nout.txt\n", 200},
               {"0\n0.3\n1\n0\n1\n6\n1\n0\n out.txt\n", 207}};
  for (const auto& c : cases) {
    TemporaryDirectory directory;
    const ProgramRun r = testing::run_program(c.input, directory.path());
    EXPECT_EQ(r.exit_status, c.error);
    EXPECT_EQ(testing::mask_stop_place(r.out),
              prompts(0, 1) + testing::masked_stop_report(c.error));
    const std::string file = directory.read(c.error == 200 ? "out.txt" : " out.txt");
    EXPECT_NE(file.find("Pmut=0.30000\r\n"), std::string::npos);
    const std::string opening = "  Xl_1(1)= 0.000 <=0.000\r\n";
    ASSERT_GE(file.size(), opening.size());
    EXPECT_EQ(file.substr(file.size() - opening.size()), opening);
  }
}

TEST(WholeRunStops, OverflowWhileBuildingTheMatrixStopsWith205) {
  // Pmut = 1e300: (2e300/3)^k overflows the extended range at k = 17.
  TemporaryDirectory directory;
  const ProgramRun r =
      testing::run_program("10\n1e300\n1\n0\n20\n6\n1\n5\nout.txt\n", directory.path());
  EXPECT_EQ(r.exit_status, 205);
  EXPECT_EQ(testing::mask_stop_place(r.out), prompts(10, 1) + testing::masked_stop_report(205));
  const std::string file = directory.read("out.txt");
  EXPECT_EQ(file.substr(file.size() - 55),
            "Number of selectable (current best) individuals mu= 5\r\n");
}

}  // namespace
}  // namespace blocklevels
