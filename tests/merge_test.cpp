// merge, seen from outside: the shards of three kinds of study, given in
// every order, give one machine's table byte for byte; shards that do not
// belong together, and tables cut, edited or not the program's own, are
// refused with status 2 and a message naming the file and the problem.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::read_file;
using testing::run_in;
using testing::TemporaryDirectory;
using testing::with;

void write(const TemporaryDirectory& dir, const std::string& name, const std::string& bytes) {
  testing::write_file(dir.path() + "/" + name, bytes);
}

// A model sweep; a simulation; a sweep with a simulation whose second point
// runs out of memory in every shard (a population of 2^31 positions).
const std::vector<std::vector<std::string>> kStudies = {
    {"--lambda", "10,20", "--mu", "5", "--pmut", "0.1,0.2,0.3", "--block-length", "2", "--blocks",
     "3,1", "--final", "4", "--quiet"},
    {"--lambda", "50", "--mu", "10", "--pmut", "0.05", "--block-length", "1", "--blocks", "3,1",
     "--final", "4", "--simulate", "7", "--seed", "9", "--quiet"},
    {"--lambda", "30", "--mu", "6", "--pmut", "0.1", "--block-length", "2,2147483647", "--blocks",
     "2", "--final", "3", "--step", "2", "--simulate", "5", "--quiet"},
    // A simulated search of a real and an integer search, whose shards
    // divide their points; hitting times, whose shards divide the runs.
    {"--lambda", "20,40", "--mu", "5", "--block-length", "2", "--blocks", "4", "--final", "30",
     "--find", "pmut:0.001:0.5", "--where", "Xtop=0.3", "--find-grid", "8", "--simulate", "3",
     "--quiet"},
    // Two crossings of a point, grouped by the parameter the shard row names.
    {"--lambda", "100", "--mu", "5,70,30", "--block-length", "4", "--blocks", "30", "--final",
     "300", "--find", "pmut:0.0001:0.1", "--where", "Xtop=0.1", "--find-grid", "12", "--quiet"},
    {"--lambda", "20,30,40", "--pmut", "0.2", "--block-length", "2", "--blocks", "4", "--final",
     "10", "--find", "mu:1:20", "--where", "Xtop=0.05", "--quiet"},
    // Each run's own hitting time: shard K's runs K, K + 3, ... interleaved.
    {"--lambda",       "30",     "--mu",      "6",      "--pmut",     "0.05,0.3",
     "--block-length", "2",      "--blocks",  "3",      "--final",    "20",
     "--step",         "5",      "--hitting", "X2=0.5", "--simulate", "7",
     "--hitting-runs", "--quiet"},
    {"--lambda", "30", "--mu", "6", "--pmut", "0.05,0.3", "--block-length", "2", "--blocks", "3",
     "--final", "20", "--step", "5", "--hitting", "X2=0.5", "--simulate", "6", "--quiet"},
};

TEST(Merge, ShardsInAnyOrderGiveOneMachinesTable) {
  for (const std::vector<std::string>& study : kStudies) {
#ifdef BLOCKLEVELS_SANITIZED
    // AddressSanitizer aborts on the failed allocation instead of throwing.
    if (study == kStudies[2]) continue;
#endif
    TemporaryDirectory dir;
    const ProgramRun one = run_in(dir, with(study, {"--csv", "whole.csv"}));
    const std::string whole = read_file(dir.path() + "/whole.csv");
    ASSERT_FALSE(whole.empty()) << study[1] << ": " << one.err;
    if (study == kStudies[2]) {
      // The point out of memory has its status row, the other all its rows.
      EXPECT_NE(whole.find("\nstopped,30,6,0.1,2147483647,0,2,3,2,level,accurate,,,,203,"),
                std::string::npos);
      EXPECT_NE(whole.find("\nsimulation_ci95,30,6,0.1,2,0,2,3,2,level,accurate,5,1,2,,"),
                std::string::npos);
    }
    std::vector<std::string> shards;
    for (const char* k : {"0", "1", "2"}) {
      shards.push_back(std::string("s") + k + ".csv");
      run_in(dir, with(study, {"--shard", std::string(k) + "/3", "--csv", shards.back()}));
    }
    do {
      const ProgramRun merged = run_in(dir, with({"merge"}, shards));
      EXPECT_EQ(merged.exit_status, 0) << merged.err;
      EXPECT_EQ(merged.out, whole) << study[1] << " " << shards[0] << shards[1] << shards[2];
    } while (std::next_permutation(shards.begin(), shards.end()));
    // One shard of one is a shard too, and merges into the same table.
    run_in(dir, with(study, {"--shard", "0/1", "--csv", "only.csv"}));
    EXPECT_NE(read_file(dir.path() + "/only.csv"), whole);
    EXPECT_EQ(run_in(dir, {"merge", "only.csv"}).out, whole);
  }
}

// The field of column `name` of line `line` (0: the header) set to `to`;
// with `to` absent, the field and its comma removed.
std::string edit(const std::string& text, std::size_t line, const std::string& name,
                 const char* to = nullptr) {
  const std::vector<std::string> header = testing::fields_of(text.substr(0, text.find('\n')));
  const auto field =
      static_cast<std::size_t>(std::find(header.begin(), header.end(), name) - header.begin());
  std::size_t at = 0;
  for (std::size_t n = 0; n < line; ++n) at = text.find('\n', at) + 1;
  for (std::size_t n = 0; n < field; ++n) at = text.find(',', at) + 1;
  const std::size_t end = text.find_first_of(",\n", at);
  if (to == nullptr) return text.substr(0, at) + text.substr(end + 1);
  return text.substr(0, at) + to + text.substr(end);
}

std::size_t lines_in(const std::string& text) {
  return static_cast<std::size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The study with one option's value replaced.
std::vector<std::string> but(std::vector<std::string> study, const std::string& option,
                             const std::string& value) {
  const auto at = std::find(study.begin(), study.end(), option);
  if (at == study.end()) return with(study, {option, value});
  *(at + 1) = value;
  return study;
}

TEST(Merge, RefusesShardsThatDoNotBelongAndRowsThatAreNotItsOwn) {
  TemporaryDirectory dir;
  const std::vector<std::string>& sweep = kStudies[0];
  const std::vector<std::string>& simulation = kStudies[1];
  for (const char* k : {"0", "1", "2"}) {
    run_in(dir, with(sweep, {"--shard", std::string(k) + "/3", "--csv", std::string("m") + k}));
    run_in(dir,
           with(simulation, {"--shard", std::string(k) + "/3", "--csv", std::string("q") + k}));
  }
  run_in(dir, with(but(simulation, "--seed", "2"), {"--shard", "1/3", "--csv", "seed2"}));
  run_in(dir, with(but(simulation, "--simulate", "8"), {"--shard", "1/3", "--csv", "runs8"}));
  run_in(dir, with(simulation, {"--shard", "1/2", "--csv", "n2"}));
  run_in(dir, with(but(sweep, "--lambda", "30,20"), {"--shard", "1/3", "--csv", "lambda30"}));
  // The same points in another order: another study, whose table differs.
  run_in(dir, with(but(sweep, "--pmut", "0.3,0.2,0.1"), {"--shard", "1/3", "--csv", "reordered"}));
  run_in(dir, with(sweep, {"--csv", "one_machine"}));
  // Hitting times of another value: another study.
  const std::vector<std::string>& hitting = kStudies.back();
  for (const char* k : {"0", "1"}) {
    run_in(dir, with(hitting, {"--shard", std::string(k) + "/2", "--csv", std::string("h") + k}));
  }
  run_in(dir, with(but(hitting, "--hitting", "X2=0.6"), {"--shard", "1/2", "--csv", "h_other"}));
  const std::vector<std::string>& own_times = kStudies[kStudies.size() - 2];
  for (const char* k : {"0", "1"}) {
    run_in(dir, with(own_times, {"--shard", std::string(k) + "/2", "--csv", std::string("r") + k}));
  }
  std::vector<std::string> counted_only = own_times;
  counted_only.erase(std::find(counted_only.begin(), counted_only.end(), "--hitting-runs"));
  run_in(dir, with(counted_only, {"--shard", "1/2", "--csv", "counted_only"}));
  // A run's row saying another run (its line: header, shard row, data).
  const std::string r1 = read_file(dir.path() + "/r1");
  const std::size_t own_row = testing::CsvText(r1).rows_of("simulation_hitting_run")[0];
  write(dir, "run_renamed", edit(r1, own_row + 1, "run", "5"));
  const std::string m1 = read_file(dir.path() + "/m1"), q2 = read_file(dir.path() + "/q2");
  write(dir, "cut_row", m1.substr(0, m1.size() - 7));
  write(dir, "no_end", m1.substr(0, m1.rfind("shard_end")));
  const std::size_t third = m1.find('\n', m1.find('\n') + 1) + 1;
  write(dir, "after_end", m1 + m1.substr(third, m1.find('\n', third) + 1 - third));
  write(dir, "x_edited", edit(m1, 2, "X1", "0.5"));
  write(dir, "mean_edited", edit(m1, 2, "mean_level", "0.5"));
  write(dir, "field_gone", edit(m1, 2, "X2"));
  write(dir, "t_skipped", edit(m1, 3, "t", "3"));
  write(dir, "sum_edited", edit(q2, 3, "X1", "4"));
  // The level sum alone one less: only its being the sum of the levels' tells.
  const testing::CsvText q2_table(q2);
  const std::string level_sum = q2_table.at(1, "mean_level");
  write(dir, "level_sum_edited",
        edit(q2, 3, "mean_level", std::to_string(std::stoull(level_sum) - 1).c_str()));
  write(dir, "end_miscounted", edit(m1, lines_in(m1) - 1, "rows", "99"));
  // The same number spelled another way: only writing the row again tells.
  const std::string x1 = testing::CsvText(m1).at(1, "X1");
  write(dir, "respelled",
        edit(m1, 2, "X1", (x1 + (x1.find('.') == std::string::npos ? ".0" : "0")).c_str()));
  write(dir, "empty", "");
  const struct {
    std::vector<std::string> files;
    std::string says;
  } cases[] = {
      {{"m0", "m1", "m1"}, "'m1' is shard 1 of 3, and so is 'm1'"},
      {{"m0", "m2"}, "shard 1 of 3 is missing"},
      {{"m0", "lambda30", "m2"}, "'lambda30' is a shard of another study than 'm0'"},
      {{"m0", "reordered", "m2"}, "'reordered' is a shard of another study than 'm0'"},
      {{"q0", "seed2", "q2"}, "'seed2' has other runs or another seed than 'q0'"},
      {{"q0", "runs8", "q2"}, "'runs8' has other runs or another seed than 'q0'"},
      {{"q0", "n2", "q2"}, "'n2' is a shard of 2 where 'q0' is one of 3"},
      {{"q0", "m1", "q2"}, "'m1' has other runs or another seed than 'q0'"},
      {{"m0", "cut_row", "m2"}, "'cut_row' ends in a cut row"},
      {{"m0", "no_end", "m2"}, "'no_end' is cut short: it has no shard_end row"},
      {{"m0", "after_end", "m2"}, "'after_end': rows after its shard_end row"},
      {{"m0", "x_edited", "m2"}, "'x_edited' line 3: rows the program does not write"},
      {{"m0", "mean_edited", "m2"}, "'mean_edited' line 3: rows the program does not write"},
      {{"m0", "field_gone", "m2"}, "'field_gone' line 3: a row of 40 fields under a header of 41"},
      {{"m0", "t_skipped", "m2"}, "'t_skipped': the model rows of lambda=10"},
      {{"q0", "q1", "sum_edited"}, "'sum_edited': the sums of lambda=50"},
      {{"q0", "q1", "level_sum_edited"}, "'level_sum_edited': the sums of lambda=50"},
      {{"m0", "respelled", "m2"}, "'respelled' line 3: rows the program does not write"},
      {{"m0", "end_miscounted", "m2"},
       "'end_miscounted': its shard_end row counts 4 points in 99 rows"},
      {{"h0", "h_other"}, "'h_other' is a shard of another study than 'h0'"},
      {{"r0", "counted_only"}, "'counted_only' is a shard of another study than 'r0'"},
      {{"r0", "run_renamed"}, "'run_renamed': the runs' own hitting times of lambda=30"},
      {{"one_machine"}, "'one_machine' is not a shard"},
      {{"empty"}, "'empty' holds no table header"},
      {{BLOCKLEVELS_SOURCE_DIR "/README.md"}, "/README.md' does not have the header of a table"},
      {{"m0", "nothing_here"}, "cannot read 'nothing_here'"},
  };
  for (const auto& c : cases) {
    const ProgramRun merged = run_in(dir, with({"merge"}, c.files));
    EXPECT_EQ(merged.exit_status, 2) << c.says;
    EXPECT_EQ(merged.out, "") << c.says;
    EXPECT_TRUE(merged.err.starts_with("blocklevels: ")) << merged.err;
    EXPECT_NE(merged.err.find(c.says), std::string::npos)
        << "expected: " << c.says << "\ngot: " << merged.err;
  }
}

}  // namespace
}  // namespace blocklevels
