// Sweeps whose lists advance together (--zip), mu as a ratio of lambda
// (--mu-ratio), and the refusals of a parameter's values in its own range,
// in either front end's names.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "errors/failure.hpp"
#include "study/run_settings.hpp"
#include "sweep/sweep_points.hpp"

namespace blocklevels {
namespace {

// The refusal's message, "" when taken.
template <class Call>
std::string refusal(Call call) {
  try {
    call();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.status(), 2);
    return failure.message();
  }
  return "";
}

// A study from option texts by parameter name (the rest at defaults or
// small values), with --zip and --mu-ratio as given.
SweepPoints sweep_of(std::map<std::string, std::string> texts, const std::string& zip = "",
                     const std::string& ratio = "", Spelling spelling = Spelling::option) {
  std::map<std::string, std::string> base = {{"lambda", "10"}, {"mu", "2"},
                                             {"pmut", "0.1"},  {"block_length", "1"},
                                             {"blocks", "3"},  {"final", "4"}};
  for (const auto& [name, text] : texts) base[name] = text;
  Study study;
  if (!zip.empty()) apply_setting(study, *find_setting("zip"), zip, spelling);
  if (!ratio.empty()) apply_setting(study, *find_setting("mu_ratio"), ratio, spelling);
  std::vector<ParameterValues> values;
  for (const ParameterDescription& d : parameter_table()) {
    const auto at = base.find(std::string(d.name));
    if (d.name == "mu" && !ratio.empty()) {
      values.push_back(ratio_values(study, spelling));
    } else {
      values.push_back(
          parameter_values(d, at == base.end() ? d.default_text : at->second, spelling));
    }
  }
  return expand_sweep(values, spelling, zip_of(study, spelling));
}

std::vector<std::string> described(const SweepPoints& sweep, const char* a, const char* b) {
  std::vector<std::string> out;
  for (const Point& p : sweep.points) {
    out.push_back(parameter_text(p, *find_parameter(a)) + "/" +
                  parameter_text(p, *find_parameter(b)));
  }
  return out;
}

TEST(Zip, ListsAdvanceTogetherAndTheProductRunsOverTheRest) {
  // lambda and mu zipped, pmut swept apart: the group varies slowest.
  const SweepPoints s =
      sweep_of({{"lambda", "10,100,1000"}, {"mu", "2,20,200"}, {"pmut", "0.1,0.2"}}, "lambda,mu");
  EXPECT_EQ(described(s, "lambda", "mu"),
            (std::vector<std::string>{"10/2", "10/2", "100/20", "100/20", "1000/200", "1000/200"}));
  EXPECT_EQ(described(s, "pmut", "mu"),
            (std::vector<std::string>{"0.1/2", "0.2/2", "0.1/20", "0.2/20", "0.1/200", "0.2/200"}));
  EXPECT_EQ(s.swept, (std::vector<std::string>{"lambda", "mu", "pmut"}));
  // A group in the table's place of its first parameter: mu and final
  // zipped vary slower than pmut, faster than lambda.
  const SweepPoints t = sweep_of(
      {{"lambda", "10,20"}, {"mu", "1,2"}, {"final", "5,6"}, {"pmut", "0.1,0.2"}}, "final,mu");
  EXPECT_EQ(described(t, "mu", "final"),
            (std::vector<std::string>{"1/5", "1/5", "2/6", "2/6", "1/5", "1/5", "2/6", "2/6"}));
  // Without a zip: the whole product, nine points.
  EXPECT_EQ(sweep_of({{"lambda", "10,100,1000"}, {"mu", "2,5,8"}}).points.size(), 9u);
}

TEST(Zip, RefusalsNameTheListsInEitherFrontEndsNames) {
  const struct {
    std::map<std::string, std::string> texts;
    const char* zip;
    Spelling spelling;
    const char* message;
  } cases[] = {
      {{{"lambda", "10,100"}, {"mu", "2,20,30"}},
       "lambda,mu",
       Spelling::option,
       "--zip: --lambda has 2 values and --mu 3; zipped lists advance together and need equal "
       "lengths"},
      {{{"lambda", "10,100"}, {"mu", "2,20,30"}},
       "lambda_,mu",
       Spelling::keyword,
       "zip: lambda_ has 2 values and mu 3; zipped lists advance together and need equal lengths"},
      {{{"lambda", "10,100"}, {"mu", "2,3"}},
       "lambda,mu,lambda",
       Spelling::option,
       "--zip: --lambda is named twice"},
      {{{"lambda", "10,100"}},
       "lambda,mu",
       Spelling::option,
       "--zip: --mu has one value; a zip names parameters that take lists"},
      {{{"lambda", "10,100"}},
       "lambda",
       Spelling::option,
       "--zip: 'lambda': name two or more parameters"},
      {{},
       "lamda,mu",
       Spelling::option,
       "--zip: 'lamda' is not a parameter's name (lambda, mu, pmut, block_length, two_option, "
       "blocks, final, step, model, arithmetic)"},
      // The bound holds at every zipped point.
      {{{"lambda", "10,100"}, {"mu", "20,30"}},
       "lambda,mu",
       Spelling::option,
       "--mu: 20 is above --lambda 10"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(refusal([&] { sweep_of(c.texts, c.zip, "", c.spelling); }), c.message) << c.zip;
  }
}

TEST(MuRatio, MuIsTheNearestIntegerToTheRatioTimesLambda) {
  // 0.25 x 10 = 2.5 rounds up to 3; 0.25 x 6 = 1.5 to 2; 0.2 x 7 = 1.4 to 1.
  const SweepPoints s = sweep_of({{"lambda", "10,6,7,100"}}, "", "0.25,0.2");
  EXPECT_EQ(
      described(s, "lambda", "mu"),
      (std::vector<std::string>{"10/3", "10/2", "6/2", "6/1", "7/2", "7/1", "100/25", "100/20"}));
  // Zipped with lambda: one ratio per lambda.
  const SweepPoints z = sweep_of({{"lambda", "10,100"}}, "lambda,mu", "0.5,0.1");
  EXPECT_EQ(described(z, "lambda", "mu"), (std::vector<std::string>{"10/5", "100/10"}));
  EXPECT_EQ(refusal([&] {
              sweep_of({{"lambda", "3"}}, "", "0.1");
            }),
            "--mu-ratio: 0.1 gives --mu 0 at --lambda 3; it must be at least 1");
  EXPECT_EQ(refusal([&] {
              sweep_of({{"lambda", "3"}}, "", "0.1", Spelling::keyword);
            }),
            "mu_ratio: 0.1 gives mu 0 at lambda_ 3; it must be at least 1");
  for (const char* bad : {"0", "1.5", "-0.2"}) {
    EXPECT_EQ(refusal([&] { sweep_of({}, "", bad); }),
              "--mu-ratio: " + std::string(bad) + " is outside (0, 1]: mu is 1 to lambda");
  }
}

// A value outside a parameter's own range is refused in that range's words,
// from the parameter table.
TEST(ParameterRefusals, SayTheParametersOwnRange) {
  const struct {
    const char* name;
    const char* text;
    Spelling spelling;
    const char* message;
  } cases[] = {
      {"mu", "0.1", Spelling::option, "--mu: '0.1' is not an integer from 1 to lambda"},
      {"mu", "0.1", Spelling::keyword, "mu: '0.1' is not an integer from 1 to lambda_"},
      {"two_option", "x", Spelling::option,
       "--two-option: 'x' is not an integer from 0 to block_length"},
      {"blocks", "2.5", Spelling::option, "--blocks: '2.5' is not an integer from 1 to 1754"},
      {"lambda", "1e3", Spelling::option, "--lambda: '1e3' is not an integer from 1 to 2147483647"},
      {"mu", "0", Spelling::option, "--mu: 0 is below 1"},
      {"mu", "0", Spelling::keyword, "mu=0 is below 1"},
      {"pmut", "2", Spelling::keyword, "pmut=2 is outside 0..1"},
      {"model", "levels", Spelling::keyword, "model='levels' is not one of level, block-state"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(refusal([&] { parameter_values(*find_parameter(c.name), c.text, c.spelling); }),
              c.message)
        << c.name << " " << c.text;
  }
}

}  // namespace
}  // namespace blocklevels
