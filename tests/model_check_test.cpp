// The model check of a simulated point: the largest distance between the
// simulated means and the model in half-widths, over every report time and
// quantity; the summary line's against the table's rows compared here
// afresh, its warning, and the same line after --resume.
#include "results/model_check.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "results/point_result.hpp"
#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using simulation::Estimate;

// Two blocks, reports at t = 1, 2; runs = 20, lambda = 10000. The least
// half-width is t_{0.975,19} / (20 * 10000).
constexpr double kT19 = 2.093024054408263;
constexpr double kLeast = kT19 / 200000;

struct Case {
  const char* what;
  std::vector<SimulationReport> simulated;
  double distance;
  std::int64_t t;
  std::int32_t level;
  bool equal_runs;
};

TEST(ModelCheck, LargestDistanceOverEveryTimeAndQuantity) {
  const std::vector<ModelReport> model = {{1, {0.5, 0.25}}, {2, {0.75, 0.5}}};
  // Equal to the model at both times, mean level 0.75 then 1.25.
  const auto same = [](double w) {
    return std::vector<SimulationReport>{{1, {0.75, w}, {{0.5, w}, {0.25, w}}},
                                         {2, {1.25, w}, {{0.75, w}, {0.5, w}}}};
  };
  std::vector<Case> cases = {{"equal, zero half-widths", same(0), 0, 1, 0, false},
                             {"equal", same(0.01), 0, 1, 0, false}};
  cases.push_back({"the first report's X2", same(0.01), 4, 1, 2, false});
  cases.back().simulated[0].fractions[1] = {0.29, 0.01};
  cases.push_back({"the mean level", same(0.01), 2, 2, 0, false});
  cases.back().simulated[1].level = {1.27, 0.01};
  cases.push_back({"X1 before a smaller X2", same(0.01), 3, 2, 1, false});
  cases.back().simulated[1].fractions[0] = {0.72, 0.01};
  cases.back().simulated[1].fractions[1] = {0.52, 0.01};
  cases.push_back({"a tie: the first", same(0.01), 1, 1, 1, false});
  cases.back().simulated[0].fractions[0] = {0.49, 0.01};
  cases.back().simulated[1].fractions[1] = {0.51, 0.01};
  cases.push_back({"every run equal", same(0.01), 0.125 / kLeast, 2, 2, true});
  cases.back().simulated[1].fractions[1] = {0.625, 0};
  cases.push_back({"a time the model lacks", same(0.01), 0, 1, 0, false});
  cases.back().simulated.push_back({3, {0, 0.01}, {{0, 0.01}, {0, 0.01}}});
  for (const Case& c : cases) {
    const std::optional<ModelCheck> check =
        check_model({.lambda = 10000, .blocks = 2}, 20, model, c.simulated);
    ASSERT_TRUE(check) << c.what;
    EXPECT_NEAR(check->distance, c.distance, 1e-9 * c.distance) << c.what;
    EXPECT_EQ(check->t, c.t) << c.what;
    EXPECT_EQ(check->level, c.level) << c.what;
    EXPECT_EQ(check->equal_runs, c.equal_runs) << c.what;
  }
  // Warned of past 3 half-widths, not at 3.
  ModelCheck at{.distance = 3.0};
  EXPECT_FALSE(check_warns(at));
  at.distance = std::nextafter(3.0, 4.0);
  EXPECT_TRUE(check_warns(at));
  // One run has no half-width: no check.
  EXPECT_FALSE(check_model({.lambda = 10000, .blocks = 2}, 1, model, same(0)));
}

// The study's summary lines from its table: the largest distance in the
// table's rows, where it is, the warning past 3 half-widths naming the
// model, and the same lines when a cut table is resumed.
TEST(ModelCheck, SummaryLineIsTheTablesRowsCompared) {
  std::vector<std::string> study = {
      "--lambda", "20000", "--mu",    "10000", "--pmut",     "0.05", "--block-length", "1,4",
      "--blocks", "3",     "--final", "8",     "--simulate", "20",   "--csv",          "t.csv"};
  testing::TemporaryDirectory dir;
  const testing::ProgramRun r = testing::run_in(dir, study);
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string whole = testing::read_file(dir.path() + "/t.csv");
  const testing::CsvText table(whole);
  const std::vector<std::string> lines = testing::lines_of(r.out);
  ASSERT_EQ(lines.size(), 2u);
  const char* quantities[] = {"mean_level", "X1", "X2", "X3"};
  for (std::size_t point = 0; point < 2; ++point) {
    // Rows: 8 model, then (simulation, simulation_ci95) per report time.
    const std::size_t first = point * 24;
    long double worst = -1;
    std::string where;
    for (std::size_t k = 0; k < 8; ++k) {
      for (const char* q : quantities) {
        const long double model = std::stold(table.at(first + k, q));
        const long double mean = std::stold(table.at(first + 8 + 2 * k, q));
        const long double half = std::stold(table.at(first + 9 + 2 * k, q));
        const long double d = std::fabs(mean - model);
        const long double distance = d == 0 ? 0 : d / (half > 0 ? half : kT19 / 400000);
        if (distance > worst) {
          worst = distance;
          where = "at_t=" + table.at(first + k, "t") + " quantity=" + q;
        }
      }
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.3g", static_cast<double>(worst));
    const std::string said = " model_vs_simulation=" + std::string(text) + " " + where;
    EXPECT_NE(lines[point].find(said), std::string::npos) << lines[point] << "\n" << said;
  }
  // Blocks of one position agree; of four they part, and the level model
  // is said to be the cause.
  ASSERT_EQ(testing::lines_of(r.err).size(), 1u) << r.err;
  EXPECT_NE(r.err.find("block_length=4 two_option=0 blocks=3 final=8 step=1 model=level "
                       "arithmetic=accurate: the simulation departs from the model (model=level)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("--model block-state follows"), std::string::npos);
  // A single point is warned of too; the block-state model is named, and
  // only the simulated values offered.
  const testing::ProgramRun block_state = testing::run_in(
      dir, {"--lambda", "60", "--mu", "6", "--pmut", "0.01", "--block-length", "2", "--blocks",
            "12", "--final", "40", "--step", "4", "--simulate", "5", "--model", "block-state"});
  EXPECT_NE(block_state.err.find("(model=block-state): X11 at t=20, every run gave 0 where the "
                                 "model gives 0.977108, 106 times the least half-width"),
            std::string::npos)
      << block_state.err;
  EXPECT_TRUE(block_state.err.ends_with("; the simulated values may serve\n"));
  // Resumed from the first point's rows, the same lines.
  std::FILE* file = std::fopen((dir.path() + "/t.csv").c_str(), "wb");
  const std::size_t cut = whole.find("model,20000,10000,0.05,4");
  std::fwrite(whole.data(), 1, cut, file);
  std::fclose(file);
  study.push_back("--resume");
  const testing::ProgramRun again = testing::run_in(dir, study);
  EXPECT_EQ(again.out, r.out);
  EXPECT_EQ(testing::read_file(dir.path() + "/t.csv"), whole);
}

}  // namespace
}  // namespace blocklevels
