// The stop report line and the operating system's error numbers in it.
#include "runtime/stop_report.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>

#include "arithmetic/stop_numbers.hpp"
#include "runtime/os_error.hpp"

namespace blocklevels::runtime {
namespace {

TEST(StopReport, NumberRightAlignedInThreeColumns) {
  const std::pair<int, const char*> cases[] = {{3, "Runtime error   3 at 12345678\r\n"},
                                               {32, "Runtime error  32 at 0000ABCD\r\n"},
                                               {100, "Runtime error 100 at 00000000\r\n"},
                                               {255, "Runtime error 255 at FFFFFFFF\r\n"}};
  const std::uint32_t places[] = {0x12345678, 0xABCD, 0, 0xFFFFFFFF};
  for (std::size_t i = 0; i < std::size(cases); ++i) {
    char out[kStopReportLength];
    EXPECT_EQ(std::string(out, format_stop_report(out, cases[i].first, places[i])),
              cases[i].second);
  }
}

TEST(OsErrorNumber, UsersSeeTheDocumentedNumbers) {
  const std::pair<int, int> cases[] = {
      {ENOENT, 3},     {ENOTDIR, 3},   {EACCES, 5},  {EPERM, 5},          {EROFS, 5},
      {EISDIR, 5},     {ETXTBSY, 32},  {EBUSY, 32},  {ENAMETOOLONG, 123}, {EILSEQ, 123},
      {ENOSPC, 112},   {EDQUOT, 112},  {EBADF, 9},   {EFBIG, 27},         {ENETDOWN, 100},
      {ENOTCONN, 107}, {0x1234, 0x34}, {256 + 7, 7},
  };
  for (const auto& [code, number] : cases) EXPECT_EQ(os_error_number(code), number) << code;
}

// On the command line a stop is said in words on standard error, the number
// without the report line's padding.
TEST(StopReport, CommandLineStopsInWords) {
  const std::tuple<int, std::uint32_t, const char*> cases[] = {
      {5, 0x1234, "blocklevels: stopped: access denied (status 5 at 00001234)\n"},
      {27, 0, "blocklevels: stopped: operating system error (status 27 at 00000000)\n"},
      {205, 0xFFFFFFFF,
       "blocklevels: stopped: floating-point overflow (status 205 at FFFFFFFF)\n"}};
  for (const auto& [number, place, words] : cases) {
    char out[160];
    EXPECT_EQ(std::string(out, format_stop_words(out, sizeof out, number, place)), words);
  }
  char cut[20];
  EXPECT_EQ(std::string(cut, format_stop_words(cut, sizeof cut, 205, 0)), "blocklevels: stopped");
}

// The numbered rows of a Markdown table (status, meaning) in the section of
// `path` whose "## " title starts with `title`; rows below 3 are left out.
std::map<int, std::string> documented_stops(const std::string& path, const std::string& title) {
  std::ifstream file(path);
  EXPECT_TRUE(file.is_open()) << path;
  std::map<int, std::string> documented;
  bool in_section = false;
  for (std::string line; std::getline(file, line);) {
    if (line.starts_with("## ")) in_section = line.starts_with(title);
    if (!in_section) continue;
    std::istringstream row(line);
    char bar = 0;
    int number = -1;
    if (!(row >> bar >> number) || bar != '|' || number < 3) continue;
    std::string meaning;
    std::getline(row, meaning, '|');
    std::getline(row, meaning, '|');
    documented[number] = meaning.substr(1, meaning.size() - 2);
  }
  return documented;
}

std::map<int, std::string> program_stops() {
  std::map<int, std::string> named;
  for (const StopMeaning& m : kStopMeanings) named[m.number] = std::string(m.meaning);
  return named;
}

// The dialogue's table of exit statuses (docs/dialogue.md) names every stop
// number with the meaning the program prints, and no other.
TEST(StopNumbers, TheDialoguesTableIsTheProgramsTable) {
  EXPECT_EQ(documented_stops(BLOCKLEVELS_SOURCE_DIR "/docs/dialogue.md", "## Exit status"),
            program_stops());
}

// The README's shorter table for the command line names some of them, each
// with the meaning the program prints.
TEST(StopNumbers, TheReadmesCommandLineTableAgrees) {
  const std::map<int, std::string> documented =
      documented_stops(BLOCKLEVELS_SOURCE_DIR "/README.md", "## The command line");
  const std::map<int, std::string> named = program_stops();
  EXPECT_FALSE(documented.empty());
  for (const auto& [number, meaning] : documented) {
    ASSERT_TRUE(named.contains(number)) << number;
    EXPECT_EQ(meaning, named.at(number)) << number;
  }
}

}  // namespace
}  // namespace blocklevels::runtime
