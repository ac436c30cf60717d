// The parameter table: each row reads and writes its own field, and the
// names, texts and refusals every front end shows come from it, spelled as
// the command line or Python names things.
#include "parameters/parameter_table.hpp"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace blocklevels {
namespace {

std::string said(const std::optional<Failure>& refusal) {
  return refusal ? refusal->message() : "";
}

TEST(ParameterTable, EveryRowReadsAndWritesItsOwnField) {
  Point point;
  std::int32_t distinct = 101;
  for (const ParameterDescription& d : parameter_table()) {
    // A choice takes its index, the last of its names here.
    const long double value =
        d.kind == ParameterKind::choice ? static_cast<long double>(d.choices.size() - 1) : distinct;
    set_parameter(point, d, value, d.kind == ParameterKind::real ? "0.125" : "");
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
  EXPECT_EQ(seen.size(), std::size(fields));
  EXPECT_EQ(p.model, ModelKind::block_state);
  EXPECT_EQ(p.arithmetic, Arithmetic::literal);
  EXPECT_EQ(describe_point(point),
            "lambda=101 mu=102 pmut=0.125 block_length=104 two_option=105 blocks=106 final=107 "
            "step=108 model=block-state arithmetic=literal");
  for (const ParameterDescription& d : parameter_table()) {
    EXPECT_EQ(find_parameter(d.name), &d);
    EXPECT_EQ(find_keyword(d.keyword), &d);
    EXPECT_EQ(d.option.substr(0, 2), "--");
  }
  EXPECT_EQ(find_parameter("pmutt"), nullptr);
  EXPECT_EQ(find_keyword("lambda"), nullptr);
}

TEST(ParameterTable, OnlyTheMutationShapesTheMatrix) {
  Point a, b;
  a.p = {.lambda = 10, .mu = 5, .Pmut = 0.1L, .block_length = 2, .blocks = 3};
  b = a;
  b.p.lambda = 20;
  b.p.mu = 7;
  b.p.final_iteration = 9;
  b.p.step_generations = 3;
  EXPECT_TRUE(same_matrix(a.p, b.p));
  for (const ParameterDescription& d : parameter_table()) {
    if (!d.shapes_matrix) continue;
    Point c = a;
    set_parameter(c, d, parameter_value(a.p, d) + 1, "0.2");
    EXPECT_FALSE(same_matrix(a.p, c.p)) << d.name;
  }
}

struct Refusal {
  const char* parameter;
  long double value;
  const char* text;
  std::string option, keyword;
};

class Refusals : public ::testing::TestWithParam<Refusal> {};

TEST_P(Refusals, NameTheParameterAndItsRange) {
  const Refusal& r = GetParam();
  const ParameterDescription& d = *find_parameter(r.parameter);
  EXPECT_EQ(said(value_refusal(d, r.value, r.text)), r.option);
  EXPECT_EQ(said(value_refusal(d, r.value, r.text, Spelling::keyword)), r.keyword);
}

INSTANTIATE_TEST_SUITE_P(
    Values, Refusals,
    ::testing::Values(
        Refusal{"lambda", 0, "0", "--lambda: 0 is below 1", "lambda_=0 is below 1"},
        Refusal{"lambda", 1, "1", "", ""}, Refusal{"two_option", 0, "0", "", ""},
        Refusal{"two_option", -1, "-1", "--two-option: -1 is below 0", "two_option=-1 is below 0"},
        Refusal{"pmut", 1.0L, "1", "", ""},
        Refusal{"pmut", 1.5L, "1.5", "--pmut: 1.5 is outside 0..1", "pmut=1.5 is outside 0..1"},
        Refusal{"pmut", -0.0L, "-0", "", ""}, Refusal{"blocks", 1754, "1754", "", ""},
        Refusal{"final", 0, "0", "--final: 0 is below 1", "final=0 is below 1"},
        Refusal{"model", 2, "2", "--model: 2 is not a choice", "model=2 is not a choice"}));

TEST(ParameterTable, BoundsNameTheParameterThatSetsThem) {
  const ParameterDescription& mu = *find_parameter("mu");
  const ParameterDescription& acc = *find_parameter("two_option");
  Point point;
  point.p = {.lambda = 10, .mu = 10, .block_length = 3, .two_option_positions = 3};
  EXPECT_EQ(said(bound_refusal(point, mu)), "");
  EXPECT_EQ(said(bound_refusal(point, acc)), "");
  point.p.mu = 11;
  point.p.two_option_positions = 4;
  EXPECT_EQ(said(bound_refusal(point, mu)), "--mu: 11 is above --lambda 10");
  EXPECT_EQ(said(bound_refusal(point, acc)), "--two-option: 4 is above --block-length 3");
  EXPECT_EQ(said(bound_refusal(point, mu, Spelling::keyword)), "mu=11 is above lambda_=10");
}

}  // namespace
}  // namespace blocklevels
