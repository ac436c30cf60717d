// The manual page lists every option and command the program's --help
// lists (the build makes its lists from the same option parsers), and
// renders without a warning.
#include <gtest/gtest.h>

#include <cstdio>
#include <regex>
#include <set>
#include <string>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

// "--plot-size" as roff writes it: "\-\-plot\-size".
std::string in_roff(const std::string& option) {
  std::string out;
  for (const char c : option) out += c == '-' ? std::string("\\-") : std::string(1, c);
  return out;
}

TEST(Manual, ListsEveryOptionAndCommandTheHelpLists) {
  const std::string manual = testing::read_file(BLOCKLEVELS_MANUAL);
  ASSERT_FALSE(manual.empty()) << BLOCKLEVELS_MANUAL;
  testing::TemporaryDirectory dir;
  const std::regex option("--[a-z][a-z-]*[a-z]");
  std::set<std::string> commands;
  std::size_t options = 0;
  for (const std::vector<std::string>& args :
       std::vector<std::vector<std::string>>{{"--help"}, {"plot", "--help"}, {"merge", "--help"}}) {
    const testing::ProgramRun help = testing::run_in(dir, args);
    ASSERT_EQ(help.exit_status, 0);
    for (std::sregex_iterator i(help.out.begin(), help.out.end(), option), end; i != end; ++i) {
      ++options;
      EXPECT_NE(manual.find(in_roff(i->str())), std::string::npos) << i->str();
    }
    const std::regex command("\n  blocklevels ([a-z]+) ");
    for (std::sregex_iterator i(help.out.begin(), help.out.end(), command), end; i != end; ++i) {
      commands.insert((*i)[1]);
    }
  }
  EXPECT_GT(options, 40u);
  EXPECT_EQ(commands, (std::set<std::string>{"merge", "plot"}));
  for (const std::string& c : commands) {
    EXPECT_NE(manual.find(".SS blocklevels " + c + " "), std::string::npos) << c;
  }
  EXPECT_EQ(manual.find("@OPTIONS@"), std::string::npos);
  EXPECT_EQ(manual.find("@COMMANDS@"), std::string::npos);
}

TEST(Manual, RendersWithoutWarnings) {
  if (std::system("command -v groff >/dev/null 2>&1") != 0) GTEST_SKIP() << "no groff";
  const std::string command =
      std::string("groff -man -Tutf8 -ww -z ") + BLOCKLEVELS_MANUAL + " 2>&1";
  FILE* p = ::popen(command.c_str(), "r");
  ASSERT_NE(p, nullptr);
  std::string said;
  char chunk[512];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) said.append(chunk, n);
  EXPECT_EQ(::pclose(p), 0);
  EXPECT_EQ(said, "");
}

}  // namespace
}  // namespace blocklevels
