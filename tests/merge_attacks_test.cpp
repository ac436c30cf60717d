// merge against forged shards: edits made by hand are refused by the rows'
// fingerprint; edits whose fingerprint a forger computed again are refused
// by what merge computes from the rows (the study's fingerprint, each
// shard's share of points and runs, sums some runs could give). And merge
// under small limits, with shards of no runs, a shard still being written,
// and a refusal found at the very end: nothing but a whole table or no
// table on standard output.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "output/row_fingerprint.hpp"
#include "support/run_program.hpp"
#include "tables/run_sums.hpp"

namespace blocklevels {
namespace {

using testing::lines_of;
using testing::ProgramRun;
using testing::read_file;
using testing::TemporaryDirectory;
using testing::with;
using testing::write_file;

std::size_t column(const std::string& header, const std::string& name) {
  const std::vector<std::string> names = testing::fields_of(header);
  return static_cast<std::size_t>(std::find(names.begin(), names.end(), name) - names.begin());
}

std::string joined(const std::vector<std::string>& fields) {
  std::string row;
  for (const std::string& f : fields) row += (row.empty() ? "" : ",") + f;
  return row;
}

// A shard's lines, edited as a forger would, then (with `refingerprint`)
// its shard_end row made to agree: its rows counted again and its
// fingerprint computed again from the rows. An edit that adds or removes
// points counts them itself.
std::string forged(const std::string& text, bool refingerprint,
                   const std::function<void(std::vector<std::vector<std::string>>&)>& edit) {
  std::vector<std::vector<std::string>> rows;
  for (const std::string& line : lines_of(text)) rows.push_back(testing::fields_of(line));
  edit(rows);
  const std::string header = joined(rows[0]);
  if (refingerprint) {
    const std::size_t fingerprint = column(header, "fingerprint");
    RowFingerprint h(std::stoull(rows[1][fingerprint], nullptr, 16));
    for (std::size_t r = 1; r + 1 < rows.size(); ++r) h.add(joined(rows[r]) + "\n");
    char hex[17];
    std::snprintf(hex, sizeof hex, "%016llx", static_cast<unsigned long long>(h.value()));
    rows.back()[fingerprint] = hex;
    rows.back()[column(header, "rows")] = std::to_string(rows.size() - 3);
  }
  std::string out;
  for (const auto& row : rows) out += joined(row) + "\n";
  return out;
}

// The index of the first row of `source` at or after `from`.
std::size_t first(const std::vector<std::vector<std::string>>& rows, const std::string& source,
                  std::size_t from = 1) {
  while (rows[from][0] != source) ++from;
  return from;
}

const std::vector<std::string> kSweep = {
    "--lambda", "10,20",    "--mu", "5",       "--pmut", "0.1,0.2,0.3", "--block-length",
    "2",        "--blocks", "3,1",  "--final", "4",      "--quiet"};
const std::vector<std::string> kRuns = {
    "--lambda",       "50", "--mu",     "10",  "--pmut",  "0.05",
    "--block-length", "1",  "--blocks", "3,1", "--final", "4",
    "--simulate",     "7",  "--seed",   "9",   "--quiet"};
const std::vector<std::string> kSearch = {
    "--lambda",    "20,40",   "--mu",       "5",      "--block-length", "2",       "--blocks",
    "4",           "--final", "30",         "--find", "pmut:0.001:0.5", "--where", "Xtop=0.3",
    "--find-grid", "8",       "--simulate", "3",      "--quiet"};

TEST(MergeForgery, EditsAreRefusedFingerprintedAgainOrNot) {
  TemporaryDirectory dir;
  const std::string d = dir.path() + "/";
  const auto shards = [&](const std::vector<std::string>& study, const std::string& name, int n) {
    for (int k = 0; k < n; ++k) {
      testing::run_in(dir, with(study, {"--shard", std::to_string(k) + "/" + std::to_string(n),
                                        "--csv", name + std::to_string(k)}));
    }
  };
  shards(kSweep, "m", 3);
  shards(kRuns, "q", 3);
  shards(kSearch, "s", 2);
  std::vector<std::string> seven = kRuns;
  *(std::find(seven.begin(), seven.end(), "--seed") + 1) = "7";
  testing::run_in(dir, with(seven, {"--shard", "1/3", "--csv", "seven"}));
  const std::string m1 = read_file(d + "m1"), m2 = read_file(d + "m2");
  const std::string q1 = read_file(d + "q1"), s1 = read_file(d + "s1");
  ASSERT_NE(s1.find("\nsimulation,"), std::string::npos);
  const std::string header = m1.substr(0, m1.find('\n'));
  const std::size_t x1 = column(header, "X1"), x2 = column(header, "X2");
  const std::size_t pmut = column(header, "pmut"), seed = column(header, "seed");
  const std::size_t points = column(header, "points");
  const auto count = [&](std::vector<std::vector<std::string>>& rows, int more) {
    rows.back()[points] = std::to_string(std::stoi(rows.back()[points]) + more);
  };
  // X1's sum one less and X2's one more: the level sum is the same.
  const auto shift_sums = [&](std::vector<std::vector<std::string>>& rows) {
    auto& sums = rows[first(rows, "simulation_sum")];
    sums[x1] = std::to_string(std::stoull(sums[x1]) - 1);
    sums[x2] = std::to_string(std::stoull(sums[x2]) + 1);
  };
  // X1's and X2's sums (and squares) swapped where they differ: X2's above.
  const auto swap_sums = [&](std::vector<std::vector<std::string>>& rows) {
    std::size_t at = first(rows, "simulation_sum");
    while (rows[at][0] != "simulation_sum" || rows[at][x1] == rows[at][x2]) ++at;
    std::swap(rows[at][x1], rows[at][x2]);
    std::swap(rows[at + 1][x1], rows[at + 1][x2]);
  };
  const auto relabel = [&](std::vector<std::vector<std::string>>& rows) {
    for (auto& row : rows) {
      if (row[pmut] == "0.1" && row[column(header, "lambda")] == "10") row[pmut] = "0.15";
    }
  };
  // The rows of the shard's last point: [from, end).
  const auto last_point = [&](const std::vector<std::vector<std::string>>& rows) {
    const std::size_t end = rows.size() - 1;
    std::size_t from = end - 1;
    while (rows[from - 1][pmut] == rows[end - 1][pmut] &&
           rows[from - 1][column(header, "blocks")] == rows[end - 1][column(header, "blocks")]) {
      --from;
    }
    return std::pair{from, end};
  };
  const auto drop_last_point = [&](std::vector<std::vector<std::string>>& rows) {
    const auto [from, end] = last_point(rows);
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(from),
               rows.begin() + static_cast<std::ptrdiff_t>(end));
    count(rows, -1);
  };
  const auto add_a_point = [&](std::vector<std::vector<std::string>>& rows) {
    const auto [from, end] = last_point(rows);
    const std::vector<std::vector<std::string>> again(
        rows.begin() + static_cast<std::ptrdiff_t>(from),
        rows.begin() + static_cast<std::ptrdiff_t>(end));
    rows.insert(rows.end() - 1, again.begin(), again.end());
    count(rows, 1);
  };
  const std::string q0_fingerprint =
      testing::fields_of(lines_of(read_file(d + "q0"))[1])[column(header, "fingerprint")];
  const auto reseed = [&](std::vector<std::vector<std::string>>& rows) {
    for (const std::size_t r : {std::size_t{1}, rows.size() - 1}) rows[r][seed] = "9";
    rows[1][column(header, "fingerprint")] = q0_fingerprint;
  };
  const auto drop_crossing_runs = [&](std::vector<std::vector<std::string>>& rows) {
    const std::size_t at = first(rows, "simulation");
    rows.erase(rows.begin() + static_cast<std::ptrdiff_t>(at),
               rows.begin() + static_cast<std::ptrdiff_t>(at + 2));
  };
  const auto miscount = [&](std::vector<std::vector<std::string>>& rows) {
    rows.back()[column(header, "points")] = "3";
  };
  const auto huge_n = [&](std::vector<std::vector<std::string>>& rows) {
    for (const std::size_t r : {std::size_t{1}, rows.size() - 1}) {
      rows[r][column(header, "shards")] = "2000000000";
    }
  };
  const struct {
    std::string name;
    std::string text;
    std::vector<std::string> files;
    std::string says;
  } cases[] = {
      {"shifted", forged(q1, false, shift_sums), {"q0", "shifted", "q2"}, "'shifted'"},
      {"shifted_f",
       forged(q1, true, swap_sums),
       {"q0", "shifted_f", "q2"},
       "are not those of any runs"},
      {"relabelled",
       forged(m1, false, relabel),
       {"m0", "relabelled", "m2"},
       "its rows are not those its shard_end row fingerprints"},
      {"relabelled_f",
       forged(m1, true, relabel),
       {"m0", "relabelled_f", "m2"},
       "the shards' rows are not those of the study their shard rows fingerprint"},
      {"dropped_f",
       forged(m2, true, drop_last_point),
       {"m0", "m1", "dropped_f"},
       "the shards' rows are not those of the study their shard rows fingerprint"},
      {"added_f",
       forged(m2, true, add_a_point),
       {"m0", "m1", "added_f"},
       "'added_f' holds more points than 'm0' allows for its place"},
      {"reseeded_f",
       forged(read_file(d + "seven"), true, reseed),
       {"q0", "reseeded_f", "q2"},
       "'reseeded_f' line 3: a row of other settings than its shard row's"},
      {"no_runs_f",
       forged(s1, true, drop_crossing_runs),
       {"s0", "no_runs_f"},
       "'no_runs_f' lacks the simulated runs of the crossing at"},
      {"miscounted",
       forged(m1, false, miscount),
       {"m0", "miscounted", "m2"},
       "'miscounted': its shard_end row counts 3 points in"},
      {"huge_f",
       forged(m1, true, huge_n),
       {"m0", "huge_f", "m2"},
       "'huge_f' is a shard of 2000000000 where 'm0' is one of 3"},
      {"huge_f", forged(m1, true, huge_n), {"huge_f"}, "shard 0 of 2000000000 is missing"},
      {"", "", {"m0", "m1"}, "shard 2 of 3 is missing"},
  };
  for (const auto& c : cases) {
    if (!c.name.empty()) write_file(d + c.name, c.text);
    testing::RunOptions options;
    options.args = with({"merge"}, c.files);
#ifndef BLOCKLEVELS_SANITIZED
    options.memory_limit = std::size_t{256} << 20;  // no claim is taken at its word
#endif
    const ProgramRun merged = testing::run_program("", dir.path(), options);
    EXPECT_EQ(merged.exit_status, 2) << c.name << ": " << merged.err;
    EXPECT_EQ(merged.out, "") << c.name;
    EXPECT_NE(merged.err.find(c.says), std::string::npos) << c.name << ": " << merged.err;
  }
}

// Sums some runs could give, and sums none could: each bound on its edge.
TEST(MergeForgery, SumsOfRunsHoldTheirBoundsExactly) {
  const PointParameters p{.lambda = 10, .mu = 2, .block_length = 1, .blocks = 2};
  const struct {
    std::uint64_t runs, level, x1, x2;
    std::uint64_t level_squares, x1_squares, x2_squares;
    bool possible;
  } cases[] = {
      {3, 6, 4, 2, 12, 6, 2, true},            // ceil(16 / 3) = 6 and ceil(4 / 3) = 2
      {3, 6, 4, 2, 12, 5, 2, false},           // 5 < 16 / 3
      {3, 6, 4, 2, 12, 6, 1, false},           // 1 < 4 / 3
      {3, 6, 2, 4, 12, 2, 6, false},           // X2's sum above X1's
      {3, 7, 4, 2, 17, 6, 2, false},           // the level sum not theirs
      {3, 6, 4, 2, 12, 41, 2, false},          // 41 > 4 * 10
      {3, 6, 4, 2, 12, 40, 20, true},          // at s * lambda
      {0, 0, 0, 0, 0, 0, 0, true},             // a shard with no runs of the point
      {0, 1, 1, 0, 1, 1, 0, false},            // and sums all the same
      {1, 70, 30, 40, 900, 900, 1600, false},  // beyond lambda
  };
  for (const auto& c : cases) {
    simulation::RunTotals totals(1, 2);
    const std::uint64_t sums[] = {c.level, c.x1, c.x2};
    const simulation::uint128 squares[] = {c.level_squares, c.x1_squares, c.x2_squares};
    totals.add_sums(c.runs, sums, squares);
    EXPECT_EQ(sums_of_runs(totals, p), c.possible)
        << c.runs << " runs: " << c.level << " " << c.x1 << " " << c.x2 << " squares "
        << c.level_squares << " " << c.x1_squares << " " << c.x2_squares;
  }
}

// More shards than runs: a shard holds none of some points' runs, and every
// K merges into one machine's table.
TEST(MergeForgery, ShardsWithoutRunsMerge) {
  std::vector<std::string> three = kRuns;
  *(std::find(three.begin(), three.end(), "--simulate") + 1) = "3";
  for (const std::vector<std::string>& study : {three, with(three, {"--hitting", "X1=0.5"})}) {
    TemporaryDirectory dir;
    ASSERT_EQ(testing::run_in(dir, with(study, {"--csv", "whole"})).exit_status, 0);
    std::vector<std::string> merge = {"merge"};
    for (int k = 0; k < 5; ++k) {
      const ProgramRun shard = testing::run_in(
          dir,
          with(study, {"--shard", std::to_string(k) + "/5", "--csv", "s" + std::to_string(k)}));
      ASSERT_EQ(shard.exit_status, 0) << shard.err;
      merge.push_back("s" + std::to_string(k));
    }
    const ProgramRun merged = testing::run_in(dir, merge);
    EXPECT_EQ(merged.exit_status, 0) << merged.err;
    EXPECT_EQ(merged.out, read_file(dir.path() + "/whole"));
  }
}

// A refusal found at the end of a large merge leaves no part of the table
// on standard output; a shard a study still writes, and more shards than
// descriptors, are refused in words.
TEST(MergeForgery, NothingOrAWholeTableUnderLimits) {
  TemporaryDirectory dir;
  const std::string d = dir.path() + "/";
  const std::vector<std::string> big = {
      "--lambda", "10",       "--mu", "5",       "--pmut", "0.001:0.3:40", "--block-length",
      "2",        "--blocks", "20",   "--final", "50",     "--quiet"};
  std::vector<std::string> names = {"merge"};
  for (int k = 0; k < 12; ++k) {
    names.push_back("b" + std::to_string(k));
    testing::run_in(dir, with(big, {"--shard", std::to_string(k) + "/12", "--csv", names.back()}));
  }
  const std::string last = read_file(d + "b11");
  write_file(d + "b11", last.substr(0, last.rfind("shard_end") - 3) + "5" +
                            last.substr(last.rfind("shard_end") - 2));
  const ProgramRun late = testing::run_in(dir, names);
  EXPECT_EQ(late.exit_status, 2) << late.err;
  EXPECT_EQ(late.out, "");
  write_file(d + "b11", last);
#ifndef BLOCKLEVELS_SANITIZED  // the sanitizers' checks need descriptors of their own
  testing::RunOptions few;
  few.args = names;
  few.open_files_limit = 12;
  const ProgramRun starved = testing::run_program("", dir.path(), few);
  EXPECT_EQ(starved.exit_status, 2);
  EXPECT_NE(
      starved.err.find("Too many open files (at most 12 at once; ulimit -n raises the limit)"),
      std::string::npos)
      << starved.err;
#endif
  EXPECT_EQ(testing::run_in(dir, names).exit_status, 0);
  // A shard its study still writes.
  testing::RunOptions writing;
  writing.args = {"--lambda",       "1000",    "--mu",     "1000",  "--pmut",  "0.001:0.3:40",
                  "--block-length", "2",       "--blocks", "200",   "--final", "20000",
                  "--quiet",        "--shard", "0/12",     "--csv", "b0",      "--force"};
  ProgramRun during;
  writing.watch = [&](testing::RunSoFar& now) {
    if (testing::children_of(now.pid).empty()) return testing::kKeepWatching;
    during = testing::run_in(dir, names);
    return SIGTERM;
  };
  testing::run_program("", dir.path(), writing);
  EXPECT_EQ(during.exit_status, 2) << during.err;
  EXPECT_NE(during.err.find("'b0' is being written by a study"), std::string::npos) << during.err;
}

}  // namespace
}  // namespace blocklevels
