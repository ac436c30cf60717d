// The values an option takes: one, a list, or a range, and what is refused.
#include "sweep/option_values.hpp"

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "command_line/command_line.hpp"
#include "errors/failure.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

// The message of the refusal, "" when the text is taken.
template <class Parse>
std::string refusal(Parse parse) {
  try {
    parse();
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.status(), 2);
    return failure.message();
  }
  return "";
}

TEST(OptionValues, IntegersListsAndRanges) {
  const std::pair<const char*, std::vector<std::int32_t>> cases[] = {
      {"7", {7}},
      {"-3,0,2147483647", {-3, 0, 2147483647}},
      {"10:20:3", {10, 15, 20}},
      {"1:3:5", {1, 2, 3}},          // 1, 1.5, 2, 2.5, 3 rounded, repeats kept once
      {"1:10:5", {1, 3, 6, 8, 10}},  // 3.25, 5.5, 7.75 rounded, not cut
      {"1:1000:4:log", {1, 10, 100, 1000}},
      {"5:5:1", {5}},
      {"20:10:3", {20, 15, 10}},
  };
  for (const auto& [text, values] : cases) EXPECT_EQ(integer_values("--n", text), values) << text;
  for (const char* bad :
       {"", "1,", "1.5", "2147483648", "1:2", "1:2:0", "1:2:3:lin", "0:10:3:log", "a:b:3", " 5"}) {
    EXPECT_TRUE(refusal([&] { integer_values("--n", bad); }).starts_with("--n: ")) << bad;
  }
  // COUNT 1 is one value: FROM, which TO must repeat.
  EXPECT_EQ(integer_values("--n", "8:8:1:log"), std::vector<std::int32_t>{8});
  for (const char* bad : {"1:2:1", "2:1:1", "1:8:1:log"}) {
    EXPECT_EQ(refusal([&] { integer_values("--n", bad); }),
              "--n: the range '" + std::string(bad) +
                  "' has one value but two ends; give COUNT 2 or more, or one value");
  }
  EXPECT_EQ(one_integer("--jobs", "12"), 12);
  for (const char* bad : {"1,2", "3:3:1", "x", ""}) {
    EXPECT_EQ(refusal([&] { one_integer("--jobs", bad); }),
              "--jobs: '" + std::string(bad) + "' is not one integer");
  }
}

TEST(OptionValues, RealsKeepTheirTextAndRangesWriteTheShortest) {
  const std::pair<const char*, std::vector<std::string>> cases[] = {
      {"0.3", {"0.3"}},
      {"1e-6,.5,5.", {"1e-6", ".5", "5."}},
      {"0.1:0.3:3", {"0.1", "0.2", "0.3"}},
      {"0.001:0.1:3:log", {"0.001", "0.01", "0.1"}},
      {"0.0:1:5", {"0.0", "0.25", "0.5", "0.75", "1"}},
      {"0.30:0.3:1", {"0.30"}},  // the same value, whatever its text
      {"1e-2:0.01:1:log", {"1e-2"}},
  };
  for (const auto& [text, texts] : cases) {
    std::vector<std::string> got;
    for (const RealValue& v : real_values("--x", text)) {
      got.push_back(v.text);
      // The value is what the dialogue reads from the text.
      EXPECT_EQ(v.value, parse_real_token(v.text).value) << v.text;
    }
    EXPECT_EQ(got, texts) << text;
  }
  const std::string too_long(65, '1');
  for (const std::string bad :
       {"e5", ".", "0.3x", "1,,2", "inf", too_long.c_str(), "0:1:3:log", "1e99999"}) {
    EXPECT_TRUE(refusal([&] { real_values("--x", bad); }).starts_with("--x: ")) << bad;
  }
  for (const char* bad : {"0.1:0.2:1", "0.01:0.1:1:log"}) {
    EXPECT_EQ(refusal([&] { real_values("--x", bad); }),
              "--x: the range '" + std::string(bad) +
                  "' has one value but two ends; give COUNT 2 or more, or one value");
  }
}

// The Cartesian product nests the parameter table's order: the first
// parameter varies slowest.
TEST(CommandLineParse, SweepsNestInTheTablesOrder) {
  const char* args[] = {"blocklevels", "--blocks",       "1,2",    "--mu", "2,3",
                        "--lambda",    "10,20",          "--pmut", "0.1",  "--final",
                        "4",           "--block-length", "1"};
  const std::optional<Study> study =
      parse_command_line(static_cast<int>(std::size(args)), const_cast<char**>(args));
  ASSERT_TRUE(study);
  std::vector<std::array<std::int32_t, 3>> order;
  for (const Point& p : study->points) order.push_back({p.p.lambda, p.p.mu, p.p.blocks});
  const std::vector<std::array<std::int32_t, 3>> expected = {{10, 2, 1}, {10, 2, 2}, {10, 3, 1},
                                                             {10, 3, 2}, {20, 2, 1}, {20, 2, 2},
                                                             {20, 3, 1}, {20, 3, 2}};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(study->swept, (std::vector<std::string>{"lambda", "mu", "blocks"}));
  EXPECT_EQ(study->max_blocks, 2);
}

}  // namespace
}  // namespace blocklevels
