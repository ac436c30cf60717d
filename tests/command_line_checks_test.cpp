// What the command line takes and says that no refusal case pins: the top
// level named as X<blocks> is taken; plot refuses a heat map of a level no
// point has; a single run's stop names its place; a single run's simulated
// line gives half-widths to two significant digits.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::TemporaryDirectory;

TEST(CommandLineChecks, TheTopLevelByItsNumberIsTaken) {
  TemporaryDirectory dir;
  const std::vector<std::string> base = {"--lambda", "20", "--mu",    "5", "--block-length", "2",
                                         "--blocks", "4",  "--final", "30"};
  auto with = [&](std::vector<std::string> more) {
    more.insert(more.begin(), base.begin(), base.end());
    return more;
  };
  const ProgramRun hitting = testing::run_in(dir, with({"--pmut", "0.1", "--hitting", "X4=0.3"}));
  EXPECT_EQ(hitting.exit_status, 0) << hitting.err;
  EXPECT_NE(hitting.out.find(" hitting_t=10\n"), std::string::npos) << hitting.out;
  const ProgramRun where =
      testing::run_in(dir, with({"--find", "pmut:0.001:0.5", "--where", "X4=0.3", "--quiet"}));
  EXPECT_EQ(where.exit_status, 0) << where.err;
}

TEST(CommandLineChecks, PlotRefusesAMapOfALevelNoPointHas) {
  TemporaryDirectory dir;
  ASSERT_EQ(
      testing::run_in(dir, {"--lambda", "20", "--mu", "5", "--pmut", "0.1,0.2", "--block-length",
                            "2", "--blocks", "3,4", "--final", "5", "--quiet", "--csv", "t.csv"})
          .exit_status,
      0);
  for (const char* map : {"X100000000", "X4"}) {
    const ProgramRun plot = testing::run_in(dir, {"plot", "t.csv", "m.svg", "--plot-map", map});
    EXPECT_EQ(plot.exit_status, 2);
    EXPECT_EQ(plot.err,
              "blocklevels: --plot-map: " + std::string(map) + " but a point has 3 blocks\n");
  }
}

// A line longer than any row in the middle of a table, read under a
// memory limit: refused, never taken as the table's end.
TEST(CommandLineChecks, PlotRefusesATableWithAnEndlessLine) {
  TemporaryDirectory dir;
  ASSERT_EQ(
      testing::run_in(dir, {"--lambda", "20", "--mu", "5", "--pmut", "0.1:0.4:8", "--block-length",
                            "2", "--blocks", "3", "--final", "5", "--quiet", "--csv", "t.csv"})
          .exit_status,
      0);
  const std::string table = testing::read_file(dir.path() + "/t.csv");
  const std::size_t middle = table.find("\nmodel,20,5,0.25,") + 1;
  std::FILE* file = std::fopen((dir.path() + "/t.csv").c_str(), "wb");
  const std::string endless(std::size_t{3} << 20, '9');
  for (const std::string& part : {table.substr(0, middle), endless, "\n" + table.substr(middle)}) {
    std::fwrite(part.data(), 1, part.size(), file);
  }
  std::fclose(file);
  testing::RunOptions options;
  options.args = {"plot", "t.csv", "p.svg"};
#ifndef BLOCKLEVELS_SANITIZED
  options.memory_limit = std::size_t{256} << 20;
#endif
  const ProgramRun plot = testing::run_program("", dir.path(), options);
  EXPECT_EQ(plot.exit_status, 2) << plot.err;
  EXPECT_NE(plot.err.find("is longer than any row the program writes"), std::string::npos)
      << plot.err;
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/p.svg"));
}

TEST(CommandLineChecks, ASingleRunsStopNamesItsPlace) {
  TemporaryDirectory dir;
  const ProgramRun stopped = testing::run_in(
      dir, {"--lambda", "10", "--mu", "5", "--pmut", "0.3", "--block-length", "1", "--blocks", "1",
            "--final", "6", "--output", "/dev/full", "--force", "--quiet"});
  EXPECT_EQ(stopped.exit_status, 112);
  const std::size_t at = stopped.err.find(" at ");
  ASSERT_NE(at, std::string::npos) << stopped.err;
  const std::string place = stopped.err.substr(at + 4, 8);
  EXPECT_NE(place, "00000000") << stopped.err;
  // The place is a statement of the program's own.
  if (std::system("command -v addr2line >/dev/null 2>&1") != 0) GTEST_SKIP() << "no addr2line";
  const std::string command = "addr2line -e " BLOCKLEVELS_BINARY " 0x" + place;
  std::FILE* pipe = ::popen(command.c_str(), "r");
  char line[512] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
  ::pclose(pipe);
  EXPECT_NE(std::string(line).find("/src/"), std::string::npos) << line;
}

TEST(CommandLineChecks, ASingleRunsSimulatedLineHasTwoDigitHalfWidths) {
  TemporaryDirectory dir;
  const ProgramRun r = testing::run_in(
      dir, {"--lambda", "300", "--mu", "60", "--pmut", "0.05", "--block-length", "1", "--blocks",
            "3", "--final", "4", "--simulate", "7", "--csv", "t.csv"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const testing::CsvText table(testing::read_file(dir.path() + "/t.csv"));
  const std::size_t ci95 = table.rows_of("simulation_ci95").back();
  std::string expected = "simulated, 7 runs, t=4: mean level ";
  const auto estimate = [&](const char* column) {
    char text[64];
    const std::size_t mean = table.rows_of("simulation").back();
    std::snprintf(text, sizeof text, "%.6g +- %.2g", std::stod(table.at(mean, column)),
                  std::stod(table.at(ci95, column)));
    return std::string(text);
  };
  expected += estimate("mean_level") + "; at or above level 3: " + estimate("X3") +
              ", level 2: " + estimate("X2") + ", level 1: " + estimate("X1") + "\n";
  EXPECT_TRUE(r.out.ends_with(expected)) << r.out << "expected the end " << expected;
}

}  // namespace
}  // namespace blocklevels
