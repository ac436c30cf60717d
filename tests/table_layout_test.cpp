// The table as the README describes it, from typed results: every kind in
// its rows and named columns, fields beyond a point's blocks empty, NaN an
// empty field, counts beyond 64 bits; and every table read back gives the
// same results, while rows the program does not write are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <string>
#include <utility>

#include "errors/failure.hpp"
#include "output/csv_table.hpp"
#include "output/table_reader.hpp"
#include "support/run_program.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

Point point(std::int32_t blocks) {
  return {.p = point_parameters(20, 5, 0.1L, 3, 1, blocks, 6, 2), .real_texts = {"0.1"}};
}

simulation::RunTotals one_run(std::int32_t at_top, std::int32_t below) {
  simulation::RunTotals totals(1, 1);
  const std::int32_t histogram[] = {below, at_top};
  totals.add_report(0, histogram);
  totals.count_run();
  return totals;
}

StudySettings simulated(std::string condition = "") {
  StudySettings s;
  s.runs = 7;
  s.seed = 18446744073709551615u;
  s.condition = std::move(condition);
  return s;
}

StudySettings searched() {
  StudySettings s;
  s.condition = "Xtop=0.5";
  s.search = "pmut:0.01:0.2";
  s.grid = 64;
  return s;
}

// The table's columns as the README documents them, for four blocks.
constexpr std::string_view kHeader =
    "source,lambda,mu,pmut,block_length,two_option,blocks,final,step,model,arithmetic,runs,seed,t,"
    "status,mean_level,X1,X2,X3,X4,condition,search,grid,direction,lower,upper,reached,"
    "success_rate,success_low,success_high,lower_quartile_t,median_t,upper_quartile_t,"
    "restricted_mean_t,evaluations,count,shard,shards,fingerprint,rows,points,format";

// A row from its fields by column name, the rest empty, format 3.0.0.
std::string row(std::vector<std::pair<std::string_view, std::string>> fields) {
  fields.emplace_back("format", "3.0.0");
  std::string text;
  std::size_t at = 0;
  for (bool first = true; at <= kHeader.size(); first = false) {
    const std::size_t comma = std::min(kHeader.find(',', at), kHeader.size());
    const std::string_view name = kHeader.substr(at, comma - at);
    if (!first) text += ',';
    for (const auto& [column, value] : fields) {
      if (column == name) text += value;
    }
    at = comma + 1;
  }
  return text + "\n";
}

// The point's fields with `blocks` blocks.
std::vector<std::pair<std::string_view, std::string>> point_fields(std::string blocks) {
  return {{"lambda", "20"},         {"mu", "5"},         {"pmut", "0.1"},
          {"block_length", "3"},    {"two_option", "1"}, {"blocks", blocks},
          {"final", "6"},           {"step", "2"},       {"model", "level"},
          {"arithmetic", "literal"}};
}

std::vector<std::pair<std::string_view, std::string>> with(
    std::vector<std::pair<std::string_view, std::string>> a,
    const std::vector<std::pair<std::string_view, std::string>>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

struct Case {
  const char* name;
  Result result;
  StudySettings settings;
  std::string rows;
};

std::vector<Case> cases() {
  const auto p2 = point_fields("2");
  const auto p1 = point_fields("1");
  const std::vector<std::pair<std::string_view, std::string>> runs = {
      {"runs", "7"}, {"seed", "18446744073709551615"}};
  Threshold crossing{true, 0.0625L, 0.125L, Direction::rising, 6, {0.5, 0.25}};
  Point at = point(2);
  at.real_texts[0] = "0.1";
  simulation::HittingTimes times;
  times.first = {{3, 2}};
  times.never = 5;
  return {
      {"model",
       {point(2), ModelReport{4, {0.5, 0.25}}},
       {},
       row(with(p2, {{"source", "model"},
                     {"t", "4"},
                     {"mean_level", "0.75"},
                     {"X1", "0.5"},
                     {"X2", "0.25"}}))},
      {"stopped",
       {point(2), Stopped{203, false, std::nullopt}},
       {},
       row(with(p2, {{"source", "stopped"}, {"status", "203"}}))},
      {"simulation",
       {point(2), SimulationReport{2, {1.5, 0.375}, {{0.5, 0.125}, {0.25, 0}}}},
       simulated(),
       row(with(with(p2, runs), {{"source", "simulation"},
                                 {"t", "2"},
                                 {"mean_level", "1.5"},
                                 {"X1", "0.5"},
                                 {"X2", "0.25"}})) +
           row(with(with(p2, runs), {{"source", "simulation_ci95"},
                                     {"t", "2"},
                                     {"mean_level", "0.375"},
                                     {"X1", "0.125"},
                                     {"X2", "0"}}))},
      {"sums",
       {point(1), ShardSums{6, one_run(17, 3)}},
       simulated(),
       row(with(with(p1, runs),
                {{"source", "simulation_runs"}, {"t", "6"}, {"mean_level", "1"}, {"X1", "1"}})) +
           row(with(
               with(p1, runs),
               {{"source", "simulation_sum"}, {"t", "6"}, {"mean_level", "17"}, {"X1", "17"}})) +
           row(with(with(p1, runs), {{"source", "simulation_sum_of_squares"},
                                     {"t", "6"},
                                     {"mean_level", "289"},
                                     {"X1", "289"}}))},
      {"hitting never",
       {point(2), ModelHitting{}},
       searched(),
       row(with(p2, {{"source", "hitting"}, {"condition", "Xtop=0.5"}}))},
      {"hitting counts",
       {point(2), HittingCounts{times}},
       simulated("X2=0.5"),
       row(with(with(p2, runs), {{"source", "simulation_hitting_counts"},
                                 {"t", "3"},
                                 {"condition", "X2=0.5"},
                                 {"count", "2"}})) +
           row(with(with(p2, runs), {{"source", "simulation_hitting_counts"},
                                     {"condition", "X2=0.5"},
                                     {"count", "5"}}))},
      {"hitting summary",
       {point(2), HittingSummary{{7, 3, 3.0 / 7, 0.125, 0.75, 4, 5, std::nullopt, 5.5, 280}}},
       simulated("X2=0.5"),
       row(with(with(p2, runs), {{"source", "simulation_hitting"},
                                 {"condition", "X2=0.5"},
                                 {"reached", "3"},
                                 {"success_rate", "0.42857142857142855"},
                                 {"success_low", "0.125"},
                                 {"success_high", "0.75"},
                                 {"lower_quartile_t", "4"},
                                 {"median_t", "5"},
                                 {"restricted_mean_t", "5.5"},
                                 {"evaluations", "280"}}))},
      {"crossing",
       {at, crossing},
       searched(),
       row(with(p2, {{"source", "threshold"},
                     {"t", "6"},
                     {"mean_level", "0.75"},
                     {"X1", "0.5"},
                     {"X2", "0.25"},
                     {"condition", "Xtop=0.5"},
                     {"search", "pmut:0.01:0.2"},
                     {"grid", "64"},
                     {"direction", "rising"},
                     {"lower", "0.0625"},
                     {"upper", "0.125"}}))},
      {"no crossing",
       {[] {
          Point p = point(2);
          p.real_texts[0] = "0.01";
          p.p.Pmut = 0.01L;
          return p;
        }(),
        Threshold{}},
       searched(),
       [&] {
         auto fields = p2;
         fields[2].second = "";  // no pmut that looks like an answer
         return row(with(fields, {{"source", "threshold"},
                                  {"condition", "Xtop=0.5"},
                                  {"search", "pmut:0.01:0.2"},
                                  {"grid", "64"}}));
       }()},
  };
}

class Layout : public ::testing::TestWithParam<Case> {};

TEST_P(Layout, WritesItsRowsAndReadsThemBack) {
  const Case& c = GetParam();
  Result result = c.result;
  result.point.p.arithmetic = Arithmetic::literal;
  const CsvTable table(4);
  EXPECT_EQ(table.header(), std::string(kHeader) + "\n");
  std::string text;
  table.append(text, result, c.settings);
  EXPECT_EQ(text, c.rows);
  const std::string path = ::testing::TempDir() + "/layout.csv";
  std::ofstream(path) << table.header() << text;
  TableReader reader(path);
  TableEntry entry;
  ASSERT_TRUE(reader.next(entry));
  std::string again;
  table.append(again, entry.result, entry.settings);
  EXPECT_EQ(again, text);
  EXPECT_EQ(entry.result.value.index(), result.value.index());
  EXPECT_FALSE(reader.next(entry));
}

// A study asking for each run's own hitting time has a run column after
// seed and format 3.1.0 in every row; a table without the column writes no
// such row.
TEST(Layout, EachRunsHittingTimeHasTheRunColumn) {
  const CsvTable table(1, true), without(1);
  const std::string header =
      "source,lambda,mu,pmut,block_length,two_option,blocks,final,step,model,arithmetic,runs,seed,"
      "run,t,status,mean_level,X1,condition,search,grid,direction,lower,upper,reached,"
      "success_rate,success_low,success_high,lower_quartile_t,median_t,upper_quartile_t,"
      "restricted_mean_t,evaluations,count,shard,shards,fingerprint,rows,points,format\n";
  EXPECT_EQ(table.header(), header);
  const std::string point_cells = "20,5,0.1,3,1,1,6,2,level,literal,";
  const std::string answers_empty = std::string(22, ',');
  Point p = point(1);
  p.p.arithmetic = Arithmetic::literal;
  std::string text;
  for (const Result& r : {Result{p, ModelReport{2, {0.5}}}, Result{p, HittingRun{6, 4}},
                          Result{p, HittingRun{0, std::nullopt}}}) {
    table.append(text, r, simulated("X1=0.5"));
    std::string none;
    without.append(none, r, simulated("X1=0.5"));
    EXPECT_EQ(none.empty(), std::holds_alternative<HittingRun>(r.value)) << none;
  }
  EXPECT_EQ(text, "model," + point_cells + ",,,2,,0.5,0.5" + answers_empty + "3.1.0\n" +
                      "simulation_hitting_run," + point_cells +
                      "7,18446744073709551615,6,4,,,,X1=0.5" + std::string(21, ',') + "3.1.0\n" +
                      "simulation_hitting_run," + point_cells +
                      "7,18446744073709551615,0,,,,,X1=0.5" + std::string(21, ',') + "3.1.0\n");
  const std::string path = ::testing::TempDir() + "/runs.csv";
  std::ofstream(path) << header << text;
  TableReader reader(path);
  EXPECT_TRUE(reader.table().layout().run_column());
  std::string again;
  for (TableEntry entry; reader.next(entry);) table.append(again, entry.result, entry.settings);
  EXPECT_EQ(again, text);
}

INSTANTIATE_TEST_SUITE_P(EveryKind, Layout, ::testing::ValuesIn(cases()), [](const auto& param) {
  std::string name = param.param.name;
  for (char& c : name) c = std::isalnum(c) != 0 ? c : '_';
  return name;
});

}  // namespace
}  // namespace blocklevels
