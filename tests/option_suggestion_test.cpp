// The distance between names and the option a mistyped one suggests.
#include <gtest/gtest.h>

#include <array>
#include <string_view>
#include <tuple>

#include "text/edit_distance.hpp"

namespace blocklevels {
namespace {

TEST(EditDistance, CountsEditsAndAdjacentSwaps) {
  const std::tuple<std::string_view, std::string_view, std::size_t> cases[] = {
      {"", "", 0},
      {"", "csv", 3},
      {"lambda", "lambda", 0},
      {"lamda", "lambda", 1},  // a letter left out
      {"fnial", "final", 1},   // two letters swapped
      {"abcd", "badc", 2},     // two swaps
      {"mu", "ab", 2},         // two substitutions
      {"kitten", "sitting", 3},
      {"ca", "abc", 3},  // a swapped pair is not edited again
      {"block-lenght", "block-length", 1},
  };
  for (const auto& [a, b, distance] : cases) {
    EXPECT_EQ(edit_distance(a, b), distance) << a << " " << b;
    EXPECT_EQ(edit_distance(b, a), distance) << b << " " << a;
  }
}

TEST(EditDistance, SuggestsOnlyANameWithinAThirdOfTheTyped) {
  constexpr std::array<std::string_view, 12> options = {
      "help",  "lambda", "mu",    "pmut", "block-length", "blocks",
      "final", "csv",    "force", "seed", "find-grid",    "version"};
  const std::pair<std::string_view, std::string_view> cases[] = {
      {"lamda", "lambda"},
      {"fnial", "final"},
      {"m", "mu"},  // one slip is forgiven however short the name
      {"ab", ""},   // two edits of two letters is another word
      {"xyz", ""},
      {"lambxx", "lambda"},  // 2 edits of 6 letters: at the limit
      {"lamxxx", ""},        // 3 edits of 6 letters: beyond it
      {"blocklenght", "block-length"},
  };
  for (const auto& [typed, suggested] : cases) {
    EXPECT_EQ(closest_name(typed, options), suggested) << typed;
  }
  // The nearest, not the first near enough.
  constexpr std::array<std::string_view, 2> nearer_later = {"lambdas", "lambda"};
  EXPECT_EQ(closest_name("lambda", nearer_later), "lambda");
  // Of names equally near, the first.
  constexpr std::array<std::string_view, 2> twins = {"abc", "abd"};
  EXPECT_EQ(closest_name("ab", twins), "abc");
  constexpr std::array<std::string_view, 2> reversed = {"abd", "abc"};
  EXPECT_EQ(closest_name("ab", reversed), "abd");
}

}  // namespace
}  // namespace blocklevels
