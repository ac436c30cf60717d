// The table's rows as the README describes them, from typed values: every
// source, fields beyond a point's blocks empty, NaN an empty field, counts
// beyond 64 bits, the shard rows' places.
#include "output/csv_table.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

namespace blocklevels {
namespace {

Point point(std::int32_t blocks) {
  Point p;
  p.p = {.lambda = 20,
         .mu = 5,
         .Pmut = 0.1L,
         .block_length = 3,
         .two_option_positions = 1,
         .blocks = blocks,
         .final_iteration = 6,
         .step_generations = 2};
  p.pmut_text = "0.1";
  return p;
}

std::string text(const CsvTable& table, const TableRow& row) {
  std::string out;
  table.append(out, row);
  return out;
}

TEST(CsvTable, EveryRowAsTheTableDescribesIt) {
  const CsvTable table(4);
  EXPECT_EQ(table.header(),
            "source,lambda,mu,pmut,block_length,two_option,blocks,final,step,runs,seed,t,status,"
            "mean_level,X1,X2,X3,X4\n");
  const double tail[] = {0.5, 0.25};
  EXPECT_EQ(text(table, model_row(point(2), 4, tail)),
            "model,20,5,0.1,3,1,2,6,2,,,4,0,0.75,0.5,0.25,,\n");
  EXPECT_EQ(text(table, stopped_row(point(2), 203)), "model,20,5,0.1,3,1,2,6,2,,,,203,,,,,\n");
  const SimulationColumns simulation{7, 18446744073709551615u};
  TableRow half_widths;
  half_widths.source = Source::simulation_ci95;
  half_widths.point = point(3);
  half_widths.simulation = simulation;
  half_widths.t = 2;
  half_widths.values = {std::nan(""), 0.125, std::nan(""), 0};
  EXPECT_EQ(text(table, half_widths),
            "simulation_ci95,20,5,0.1,3,1,3,6,2,7,18446744073709551615,2,0,,0.125,,0,\n");
  simulation::RunTotals totals(1, 1);
  const std::int32_t histogram[] = {3, 17};
  totals.add_report(0, histogram);
  totals.count_run();
  const auto sums = sum_rows(point(1), simulation, totals, 0, 6);
  EXPECT_EQ(text(table, sums[0]),
            "simulation_runs,20,5,0.1,3,1,1,6,2,7,18446744073709551615,6,0,1,1,,,\n");
  EXPECT_EQ(text(table, sums[1]),
            "simulation_sum,20,5,0.1,3,1,1,6,2,7,18446744073709551615,6,0,17,17,,,\n");
  EXPECT_EQ(text(table, sums[2]),
            "simulation_sum_of_squares,20,5,0.1,3,1,1,6,2,7,18446744073709551615,6,0,289,289,,,\n");
  TableRow big = sums[2];
  big.counts = {simulation::uint128{1} << 100, 0};
  EXPECT_EQ(text(table, big).substr(text(table, big).find(",6,0,")),
            ",6,0,1267650600228229401496703205376,0,,,\n");
  TableRow shard;
  shard.source = Source::shard;
  shard.shard = {2, 5, 1234567890123456789u};
  EXPECT_EQ(text(table, shard), "shard,,,,,,,,,,,2,5,1234567890123456789,,,,\n");
  shard.source = Source::shard_end;
  shard.simulation = simulation;
  shard.rows = 40;
  shard.points = 3;
  EXPECT_EQ(text(table, shard), "shard_end,,,,,,,,,7,18446744073709551615,2,5,40,3,,,\n");
}

}  // namespace
}  // namespace blocklevels
