// The parameter table: each row reads and writes its own field, and the
// names, texts and refusals every front end shows come from it.
#include "parameters/parameter_table.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace blocklevels {
namespace {

TEST(ParameterTable, EveryRowReadsAndWritesItsOwnField) {
  Point point;
  std::int32_t distinct = 101;
  for (const ParameterDescription& d : parameter_table()) {
    set_parameter(point, d, distinct, d.kind == ParameterKind::real ? "0.125" : "");
    ++distinct;
  }
  const PointParameters& p = point.p;
  const std::int32_t fields[] = {p.lambda,
                                 p.mu,
                                 static_cast<std::int32_t>(p.Pmut),
                                 p.block_length,
                                 p.two_option_positions,
                                 p.blocks,
                                 p.final_iteration,
                                 p.step_generations};
  std::set<std::int32_t> seen(std::begin(fields), std::end(fields));
  EXPECT_EQ(seen.size(), parameter_table().size());
  EXPECT_EQ(describe_point(point),
            "lambda=101 mu=102 pmut=0.125 block_length=104 two_option=105 blocks=106 final=107 "
            "step=108");
  for (const ParameterDescription& d : parameter_table()) {
    EXPECT_EQ(find_parameter(d.name), &d);
    EXPECT_EQ(d.option.substr(0, 2), "--");
  }
  EXPECT_EQ(find_parameter("pmutt"), nullptr);
}

TEST(ParameterTable, RefusalsNameTheOptionAndTheBound) {
  const ParameterDescription& lambda = *find_parameter("lambda");
  const ParameterDescription& mu = *find_parameter("mu");
  const ParameterDescription& pmut = *find_parameter("pmut");
  const ParameterDescription& acc = *find_parameter("two_option");
  EXPECT_EQ(value_refusal(lambda, 0, "0"), "--lambda: 0 is below 1");
  EXPECT_EQ(value_refusal(lambda, 1, "1"), "");
  EXPECT_EQ(value_refusal(acc, 0, "0"), "");
  EXPECT_EQ(value_refusal(acc, -1, "-1"), "--two-option: -1 is below 0");
  EXPECT_EQ(value_refusal(pmut, 1.0L, "1"), "");
  EXPECT_EQ(value_refusal(pmut, 1.5L, "1.5"), "--pmut: 1.5 is outside 0..1");
  EXPECT_EQ(value_refusal(pmut, -0.0L, "-0"), "");
  EXPECT_EQ(value_refusal(*find_parameter("final"), 0, "0"), "--final: 0 is below 1");
  EXPECT_EQ(value_refusal(*find_parameter("blocks"), 1754, "1754"), "");
  Point point;
  point.p = {.lambda = 10, .mu = 10, .block_length = 3, .two_option_positions = 3};
  EXPECT_EQ(bound_refusal(point, mu), "");
  EXPECT_EQ(bound_refusal(point, acc), "");
  point.p.mu = 11;
  point.p.two_option_positions = 4;
  EXPECT_EQ(bound_refusal(point, mu), "--mu: 11 is above --lambda 10");
  EXPECT_EQ(bound_refusal(point, acc), "--two-option: 4 is above --block-length 3");
}

}  // namespace
}  // namespace blocklevels
