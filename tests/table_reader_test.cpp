// The table reader under attack: a table the program wrote, with one field
// set to something the program never writes, is refused with the fault
// named; a line longer than any row, a read that fails and a table cut
// inside a row are errors, never the table's end; and a table that may be
// cut (resume's) ends before a cut entry instead.
#include "output/table_reader.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "errors/failure.hpp"
#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::read_file;
using testing::TemporaryDirectory;
using testing::write_file;

// The table with field `column` of the `nth` row of `source` set to `to`.
std::string edited(const std::string& text, const std::string& source, int nth,
                   const std::string& column, const std::string& to) {
  const std::vector<std::string> header = testing::fields_of(text.substr(0, text.find('\n')));
  const auto field =
      static_cast<std::size_t>(std::find(header.begin(), header.end(), column) - header.begin());
  std::size_t at = text.find('\n') + 1;
  for (;; at = text.find('\n', at) + 1) {
    if (text.compare(at, source.size() + 1, source + ",") == 0 && nth-- == 0) break;
  }
  for (std::size_t n = 0; n < field; ++n) at = text.find(',', at) + 1;
  return text.substr(0, at) + to + text.substr(text.find_first_of(",\n", at));
}

// Every entry of the file; throws the reader's Failure.
std::size_t entries_of(const std::string& path, bool cut_ok = false) {
  TableReader reader(path, cut_ok);
  TableEntry entry;
  std::size_t n = 0;
  while (reader.next(entry)) ++n;
  return n;
}

// The message reading `text` gives, "" when it is read whole.
std::string refusal(const TemporaryDirectory& dir, const std::string& text) {
  write_file(dir.path() + "/t.csv", text);
  try {
    entries_of(dir.path() + "/t.csv");
  } catch (const Failure& failure) {
    return failure.message();
  }
  return "";
}

const std::vector<std::string> kHitting = {
    "--lambda",  "30",       "--mu",       "6",       "--pmut", "0.05,0.3", "--block-length",
    "2",         "--blocks", "3",          "--final", "20",     "--step",   "5",
    "--hitting", "X2=0.5",   "--simulate", "6",       "--quiet"};
const std::vector<std::string> kSearch = {
    "--lambda", "20",       "--mu",        "5",  "--block-length", "2",
    "--blocks", "4",        "--final",     "30", "--find",         "pmut:0.001:0.5",
    "--where",  "Xtop=0.3", "--find-grid", "8",  "--quiet"};

std::string table_of(const TemporaryDirectory& dir, std::vector<std::string> args,
                     std::vector<std::string> more = {}) {
  args.insert(args.end(), more.begin(), more.end());
  args.insert(args.end(), {"--csv", "made.csv", "--force"});
  const testing::ProgramRun run = testing::run_in(dir, args);
  EXPECT_EQ(run.exit_status, 0) << run.err;
  return read_file(dir.path() + "/made.csv");
}

TEST(TableReader, RefusesRowsTheProgramNeverWrites) {
  TemporaryDirectory dir;
  const std::string hitting = table_of(dir, kHitting);
  const std::string search = table_of(dir, kSearch);
  const std::string counts = table_of(dir, kHitting, {"--shard", "0/2"});
  const std::string own = table_of(dir, kHitting, {"--hitting-runs"});
  ASSERT_EQ(refusal(dir, own), "");
  ASSERT_EQ(refusal(dir, hitting), "");
  ASSERT_EQ(refusal(dir, search), "");
  ASSERT_EQ(refusal(dir, counts), "");
  const struct {
    const std::string& table;
    std::string source;
    int nth;
    std::string column, to, says;
  } cases[] = {
      {hitting, "model", 0, "X1", "inf", "a fraction that is not in [0, 1]"},
      {hitting, "model", 1, "X2", "-0.5", "a fraction that is not in [0, 1]"},
      {hitting, "model", 2, "X3", "1e308", "a fraction that is not in [0, 1]"},
      {hitting, "model", 0, "pmut", "1.5", "a pmut no study runs"},
      {hitting, "model", 0, "pmut", "0.05:0.3:2", "a pmut that is not one value"},
      {hitting, "model", 0, "mu", "31", "a point no study runs"},
      {hitting, "model", 0, "t", "0", "a time that is not 1 to 20"},
      {hitting, "model", 0, "t", "25", "a time that is not 1 to 20"},
      {hitting, "model", 0, "t", "7", "a time that is no report's"},
      {hitting, "simulation", 0, "X1", "1.5", "a simulated value out of its range"},
      {hitting, "simulation_ci95", 0, "X1", "inf", "a half-width no runs give"},
      {hitting, "simulation_ci95", 0, "X1", "7", "a half-width no runs give"},
      {hitting, "simulation_ci95", 0, "X1", "", "a half-width no runs give"},
      {hitting, "simulation", 0, "runs", "0", "runs that is not 1 to"},
      {hitting, "hitting", 0, "condition", "Xtop=2", "a condition no study of this point asks"},
      {hitting, "hitting", 0, "condition", "X4=0.5", "X4 but a point has 3 blocks"},
      {hitting, "hitting", 0, "condition", "X01=0.5", "a condition no study asks: 'X01=0.5'"},
      {hitting, "hitting", 0, "condition", "", "a hitting time of no condition"},
      {hitting, "simulation_hitting", 0, "reached", "7", "a count of runs that is not 0 to 6"},
      {hitting, "simulation_hitting", 0, "median_t", "0", "a quartile that is not"},
      {hitting, "simulation_hitting", 0, "restricted_mean_t", "21",
       "a restricted_mean_t out of its range"},
      {hitting, "simulation_hitting", 0, "success_high", "inf", "a success_high out of its range"},
      {search, "threshold", 0, "search", "pmut:0.5:0.001", "a search no study runs"},
      {search, "threshold", 0, "search", "pmut:0.001:0.5:9", "a search no study runs"},
      {search, "threshold", 0, "grid", "1", "a grid that is not 2 to 4096"},
      {search, "threshold", 0, "lower", "0.0001", "a crossing without its bracket"},
      {search, "threshold", 0, "upper", "0.6", "a crossing without its bracket"},
      {search, "threshold", 0, "pmut", "0.6", "a pmut outside the search's range"},
      {counts, "simulation_hitting_counts", 0, "count", "7", "a count of runs that is not 1 to 6"},
      {own, "simulation_hitting_run", 0, "run", "6", "a run that is not 0 to 5"},
      {own, "simulation_hitting_run", 1, "t", "21", "a time that is not 1 to 20"},
      {own, "simulation_hitting_run", 2, "condition", "", "a run's hitting time of no condition"},
      {own, "simulation_hitting_run", 3, "run", "", "a run that is not 0 to 5"},
      {hitting, "simulation_hitting", 0, "source", "simulation_hitting_run",
       "a run's hitting time in a table without the run column"},
      {counts, "simulation_runs", 0, "X1", "4", "the sums of no runs"},
      {counts, "shard", 0, "fingerprint", "", "a shard row without its study's fingerprint"},
      {counts, "shard_end", 0, "fingerprint", "12",
       "a shard_end row without its rows' fingerprint"},
  };
  for (const auto& c : cases) {
    const std::string said = refusal(dir, edited(c.table, c.source, c.nth, c.column, c.to));
    EXPECT_NE(said.find(c.says), std::string::npos)
        << c.source << " " << c.column << "=" << c.to << ": " << said;
  }
  // A generation repeated among a shard's hitting counts.
  const std::string& first_counts =
      edited(counts, "simulation_hitting_counts", 1, "t",
             testing::CsvText(counts).at(
                 testing::CsvText(counts).rows_of("simulation_hitting_counts")[0], "t"));
  if (testing::CsvText(counts).rows_of("simulation_hitting_counts").size() > 2) {
    EXPECT_NE(refusal(dir, first_counts).find("out of the order of their generations"),
              std::string::npos)
        << refusal(dir, first_counts);
  }
}

TEST(TableReader, ReadErrorsAndEndlessLinesAreErrorsNotTheEnd) {
  TemporaryDirectory dir;
  const std::string table = table_of(dir, kHitting);
  const std::size_t second_row = table.find('\n', table.find('\n') + 1) + 1;
  const std::string long_line(kMaxTableLine + 1, '7');
  struct Case {
    std::string bytes;
    std::string says;
  };
  const Case cases[] = {
      {table.substr(0, second_row) + long_line + "\n" + table.substr(second_row),
       "line 3 is longer than any row the program writes"},
      {table + long_line, "is longer than any row the program writes"},
      {table.substr(0, table.size() - 5), "ends in a cut row (line"},
      {"", "holds no table header"},
      {"\n" + table, "holds no table header"},
  };
  for (const Case& c : cases) {
    const std::string said = refusal(dir, c.bytes);
    EXPECT_NE(said.find(c.says), std::string::npos) << said;
  }
  // A file whose every read fails.
  try {
    entries_of("/proc/self/mem");
    ADD_FAILURE() << "read without error";
  } catch (const Failure& failure) {
    EXPECT_EQ(failure.message(), "cannot read '/proc/self/mem': Input/output error");
  }
  EXPECT_THROW(entries_of(dir.path()), Failure);  // a directory is no table
  // A table that may be cut ends before its cut entry, and says so.
  const std::string path = dir.path() + "/cut.csv";
  write_file(path, table.substr(0, table.size() - 5));
  TableReader reader(path, true);
  TableEntry entry;
  std::uint64_t last_end = 0;
  while (reader.next(entry)) last_end = entry.end_offset;
  EXPECT_TRUE(reader.ends_inside_a_row());
  ASSERT_TRUE(reader.cut().has_value());
  EXPECT_EQ(*reader.cut(), last_end);
  EXPECT_GT(last_end, table.size() / 2);
  write_file(path, "source,lam");
  EXPECT_FALSE(TableReader(path, true).holds_header());
}

TEST(TableReader, AStoppedRowOf128PlusASignalWasEndedFromOutside) {
  TemporaryDirectory dir;
  std::string table = table_of(dir, kHitting);
  const std::string header = table.substr(0, table.find('\n') + 1);
  const testing::CsvText parsed(table);
  for (const auto& [status, by_signal] :
       std::vector<std::pair<int, bool>>{{137, true}, {143, true}, {203, false}, {128, false}}) {
    std::string row = "stopped,30,6,0.05,2,0,3,20,5,level,accurate,,,," + std::to_string(status);
    row += std::string(parsed.header().size() - testing::fields_of(row).size(), ',') + "3.0.0\n";
    write_file(dir.path() + "/s.csv", header + row);
    TableReader reader(dir.path() + "/s.csv");
    TableEntry entry;
    ASSERT_TRUE(reader.next(entry)) << row;
    EXPECT_EQ(std::get<Stopped>(entry.result.value).by_signal, by_signal) << status;
  }
}

}  // namespace
}  // namespace blocklevels
