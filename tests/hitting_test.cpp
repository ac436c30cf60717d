// Hitting times against the rows they come from: the model's is the first
// generation of a run reported at every generation whose quantity reaches
// the value, its row that generation's row; a simulated run's is the first
// generation at which its own counts, reported at every generation, reach
// it; and their summary is the runs' order statistics.
#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "parameters/quantity.hpp"
#include "simulation/hitting_summary.hpp"
#include "simulation/run_totals.hpp"
#include "simulation/simulation_runs.hpp"
#include "support/run_program.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

testing::ProgramRun run(std::vector<std::string> args) {
  testing::TemporaryDirectory dir;
  return testing::run_in(dir, std::move(args));
}

TEST(Hitting, TheModelsIsTheFirstGenerationOfAStepOneRunToReachTheValue) {
  std::mt19937_64 random(5);
  int reached = 0;
  for (int n = 0; n < 12; ++n) {
    const auto pick = [&](int low, int high) {
      return std::to_string(low +
                            static_cast<int>(random() % static_cast<unsigned>(high - low + 1)));
    };
    const std::string l = pick(1, 6);
    const int level = 1 + static_cast<int>(random() % static_cast<unsigned>(std::stoi(l)));
    const std::string quantity = random() % 3 == 0   ? "mean_level"
                                 : random() % 2 == 0 ? "Xtop"
                                                     : "X" + std::to_string(level);
    const double share = std::uniform_real_distribution<double>(0.05, 0.98)(random);
    std::ostringstream value;
    value << (quantity == "mean_level" ? share * std::stoi(l) : share);
    std::vector<std::string> point = {
        "--lambda",         pick(10, 40),     "--mu",     pick(1, 9), "--pmut",
        "0.0" + pick(1, 9), "--block-length", pick(1, 3), "--blocks", l,
        "--final",          pick(1, 60),      "--csv",    "-"};
    std::string condition = quantity + "=" + value.str();
    if (n == 0) {
      // Reached in the first generation.
      point = {"--lambda", "20",       "--mu", "5",       "--pmut", "0.09",  "--block-length",
               "2",        "--blocks", "3",    "--final", "5",      "--csv", "-"};
      condition = "X1=0.0001";
    } else if (n == 1) {
      // Without mutation the top level stays exactly empty: reached, as
      // Xtop >= 0, in the first generation.
      point[5] = "0";
      condition = "Xtop=0";
    }
    std::vector<std::string> every = point, hitting = point;
    every.insert(every.end(), {"--step", "1"});
    hitting.insert(hitting.end(), {"--step", pick(1, 7), "--hitting", condition});
    const testing::CsvText rows(run(every).out);
    const testing::CsvText answer(run(hitting).out);
    SCOPED_TRACE(hitting[11] + " " + condition);
    // The first step-1 row whose quantity reaches the value.
    Condition c = *parse_condition(condition);
    c.value = std::strtod(c.value_text.c_str(), nullptr);
    const int blocks = std::stoi(point[9]);
    std::optional<std::size_t> expected;
    for (std::size_t r = 0; r < rows.size() && !expected; ++r) {
      std::vector<double> values{std::stod(rows.at(r, "mean_level"))};
      for (int j = 1; j <= blocks; ++j)
        values.push_back(std::stod(rows.at(r, "X" + std::to_string(j))));
      if (c.quantity.of_row(values, blocks) >= c.value) expected = r;
    }
    const std::vector<std::size_t> hit = answer.rows_of("hitting");
    ASSERT_EQ(hit.size(), 1u);
    EXPECT_EQ(answer.at(hit[0], "condition"), condition);
    if (!expected) {
      EXPECT_EQ(answer.at(hit[0], "t"), "");
      EXPECT_EQ(answer.at(hit[0], "mean_level"), "");
      continue;
    }
    ++reached;
    // The same values as that row, its parameters but for the step.
    for (const std::string& column : rows.header()) {
      if (column == "source" || column == "step" || column == "condition") continue;
      EXPECT_EQ(answer.at(hit[0], column), rows.at(*expected, column)) << column;
    }
  }
  EXPECT_GE(reached, 4);
}

// Each run alone, reported at every generation: its first generation whose
// count reaches the value is the time its hitting counts and its own time
// give it; together on two threads, each run keeps its own.
TEST(Hitting, ASimulatedRunsIsTheFirstGenerationItsOwnCountsReachTheValue) {
  using simulation::RunTotals;
  const PointParameters p = point_parameters(30, 5, 0.02L, 2, 0, 5, 40, 1);
  for (const char* text : {"Xtop=0.5", "X3=0.9", "mean_level=3.5", "X1=1"}) {
    Condition c = *parse_condition(text);
    c.value = std::strtod(c.value_text.c_str(), nullptr);
    simulation::HittingTimes all;
    RunTotals::RunHittingTimes own;
    for (std::uint64_t r = 0; r < 12; ++r) {
      const RunTotals one = simulation::simulate_runs(p, 3, {r + 1, r, 1}, 1, &c);
      std::int64_t first = 0;
      for (std::int64_t t = 1; t <= 40 && first == 0; ++t) {
        const long double count =
            c.quantity.kind == Quantity::Kind::mean_level
                ? static_cast<long double>(one.sum_level(t - 1))
                : static_cast<long double>(one.sum_at_least(t - 1, c.quantity.level_for(5)));
        // As a table prints the run's fraction: the double nearest it.
        if (static_cast<double>(count / 30) >= c.value) first = t;
      }
      simulation::HittingTimes expected;
      if (first == 0) {
        expected.never = 1;
      } else {
        expected.first[first] = 1;
      }
      EXPECT_EQ(one.hitting(), expected) << text << " run " << r;
      const std::optional<std::int64_t> t = first == 0 ? std::nullopt : std::optional(first);
      EXPECT_EQ(one.run_hitting(), (RunTotals::RunHittingTimes{{r, t}})) << text << " run " << r;
      all.add(one.hitting());
      own[r] = t;
    }
    // The runs together give the same counts and times.
    const RunTotals together = simulation::simulate_runs(p, 3, {12, 0, 1}, 2, &c);
    EXPECT_EQ(together.hitting(), all) << text;
    EXPECT_EQ(together.run_hitting(), own) << text;
  }
}

// Runs that never reach the value count as censored at the final
// generation: the quartiles are the generations by which a quarter, half,
// three quarters of all runs had reached it; against values worked out by
// hand, Wilson's interval by its formula.
TEST(Hitting, TheSummaryCountsTheRunsThatNeverGotThere) {
  simulation::HittingTimes times;
  times.first = {{3, 1}, {5, 2}, {9, 1}};  // 3, 5, 5, 9, and two never by 10
  times.never = 2;
  const simulation::HittingSummary s = simulation::summarize_hitting(times, 10, 30);
  EXPECT_EQ(s.runs, 6u);
  EXPECT_EQ(s.reached, 4u);
  EXPECT_EQ(s.lower_quartile, 5);             // 3 of 6 by t = 5; 1 of 6 by t = 3 is not a quarter
  EXPECT_EQ(s.median, 5);                     // exactly half by t = 5
  EXPECT_EQ(s.upper_quartile, std::nullopt);  // 4 of 6 never make three quarters
  EXPECT_DOUBLE_EQ(s.success_rate, 4.0 / 6);
  EXPECT_NEAR(s.success_low, 0.299993315138392, 1e-14);
  EXPECT_NEAR(s.success_high, 0.9032285888942195, 1e-14);
  EXPECT_DOUBLE_EQ(s.restricted_mean, (3 + 5 + 5 + 9 + 10 + 10) / 6.0);
  EXPECT_DOUBLE_EQ(*s.evaluations, 30.0 * 42 / 4);
  // 24 of 30 never: no median, whatever the few that got there say.
  simulation::HittingTimes few;
  few.first = {{277, 3}, {278, 3}};
  few.never = 24;
  const simulation::HittingSummary f = simulation::summarize_hitting(few, 300, 100);
  EXPECT_EQ(f.median, std::nullopt);
  EXPECT_EQ(f.lower_quartile, std::nullopt);
  EXPECT_DOUBLE_EQ(f.success_rate, 0.2);
  simulation::HittingTimes none;
  none.never = 3;
  const simulation::HittingSummary empty = simulation::summarize_hitting(none, 8, 10);
  EXPECT_EQ(empty.median, std::nullopt);
  EXPECT_EQ(empty.evaluations, std::nullopt);
  EXPECT_EQ(empty.success_low, 0.0);
  EXPECT_DOUBLE_EQ(empty.restricted_mean, 8.0);
}

}  // namespace
}  // namespace blocklevels
