// A study attacked as an adversary and a careless user would: interrupted
// again and again, killed, cut by a failing standard output, its table
// swapped for a link, its standard streams sent into its own files, run
// under small limits of descriptors and memory. Whatever happens, nothing
// wrong is written with status 0, nothing complete is lost, and --resume
// ends with the table an uninterrupted run writes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::read_file;
using testing::RunOptions;
using testing::TemporaryDirectory;
using testing::with;
using testing::write_file;
using Clock = std::chrono::steady_clock;

ProgramRun run(const TemporaryDirectory& dir, std::vector<std::string> args,
               RunOptions options = {}) {
  options.args = std::move(args);
  return testing::run_program("", dir.path(), options);
}

// Twelve points of about a tenth of a second each, a few rows each.
const std::vector<std::string> kSweep = {
    "--lambda", "1000",     "--mu",    "1000",    "--pmut", "0.0001:0.0008:12", "--block-length",
    "1",        "--blocks", "150",     "--final", "4000",   "--step",           "200",
    "--jobs",   "2",        "--quiet", "--csv",   "t.csv"};
// A small study with every kind of row resume keeps.
const std::vector<std::string> kHitting = {
    "--lambda",  "30",       "--mu",       "6",       "--pmut",  "0.05,0.3", "--block-length",
    "2",         "--blocks", "3",          "--final", "20",      "--step",   "5",
    "--hitting", "X2=0.5",   "--simulate", "6",       "--quiet", "--csv",    "t.csv"};

// The table of an uninterrupted run of `study`.
std::string whole_table(const std::vector<std::string>& study) {
  TemporaryDirectory dir;
  const ProgramRun r = run(dir, study);
  EXPECT_EQ(r.exit_status, 0) << r.err;
  return read_file(dir.path() + "/t.csv");
}

// Whether every line of `part` is a line of `whole`, in the same order.
bool in_order_within(const std::string& part, const std::string& whole) {
  const std::vector<std::string> lines = testing::lines_of(whole);
  std::size_t at = 0;
  for (const std::string& line : testing::lines_of(part)) {
    while (at < lines.size() && lines[at] != line) ++at;
    if (at++ == lines.size()) return false;
  }
  return part.empty() || part.back() == '\n';
}

// Sends `signal` once `delay` has passed.
std::function<int(testing::RunSoFar&)> after(std::chrono::milliseconds delay, int signal) {
  const auto start = Clock::now();
  return [=](testing::RunSoFar&) {
    return Clock::now() - start >= delay ? signal : testing::kKeepWatching;
  };
}

TEST(Resume, AnotherQuestionOfTheSamePointsIsRefusedAndTheTableLeft) {
  const std::vector<std::vector<std::string>> studies = {
      kHitting,
      {"--lambda", "20,40", "--mu", "5", "--block-length", "2", "--blocks", "4", "--final", "30",
       "--find", "pmut:0.001:0.5", "--where", "Xtop=0.3", "--find-grid", "8", "--quiet", "--csv",
       "t.csv"}};
  for (const std::vector<std::string>& study : studies) {
    TemporaryDirectory dir;
    ASSERT_EQ(run(dir, study).exit_status, 0);
    const std::string table = read_file(dir.path() + "/t.csv");
    std::vector<std::string> other = study;
    for (std::string& arg : other) {
      if (arg == "X2=0.5") arg = "X2=0.6";
      if (arg == "Xtop=0.3") arg = "Xtop=0.4";
    }
    const ProgramRun refused = run(dir, with(other, {"--resume"}));
    EXPECT_EQ(refused.exit_status, 2) << refused.err;
    EXPECT_NE(refused.err.find("is not of this study: other runs or seed, or another question"),
              std::string::npos)
        << refused.err;
    EXPECT_EQ(read_file(dir.path() + "/t.csv"), table);
  }
}

// Each run's own hitting time is kept only as the run it is, in its place;
// a table with them is not another study's, nor one without them this one's.
TEST(Resume, RunsOwnHittingTimesAreKeptOnlyAsTheirRuns) {
  const std::vector<std::string> own_times = with(kHitting, {"--hitting-runs"});
  const std::string whole = whole_table(own_times);
  const std::string first_run =
      "\nsimulation_hitting_run,30,6,0.05,2,0,3,20,5,level,accurate,6,1,0,";
  const std::size_t at = whole.find(first_run);
  ASSERT_NE(at, std::string::npos) << whole;
  std::string swapped = whole;
  swapped[at + first_run.size() - 2] = '1';  // run 0 says it is run 1
  const struct {
    std::vector<std::string> study;
    std::string table, says;
  } cases[] = {
      {own_times, swapped, "is not of this study: a point this study does not run"},
      {kHitting, whole, "has the columns of another study"},
      {own_times, whole_table(kHitting), "has the columns of another study"},
  };
  for (const auto& c : cases) {
    TemporaryDirectory dir;
    write_file(dir.path() + "/t.csv", c.table);
    const ProgramRun refused = run(dir, with(c.study, {"--resume"}));
    EXPECT_EQ(refused.exit_status, 2) << refused.err;
    EXPECT_NE(refused.err.find(c.says), std::string::npos) << refused.err;
    EXPECT_EQ(read_file(dir.path() + "/t.csv"), c.table);
  }
}

// A table cut anywhere inside a row (a killed study, a full disk), or
// before its header was whole, is taken back to its last whole row, with a
// note, and completed.
// Three points searched with their simulated search: crossings, runs at
// them and the simulated answers; the last point crosses in neither.
const std::vector<std::string> kSimulatedSearch = {
    "--lambda",    "30",      "--mu",       "3,6,25", "--block-length", "1",       "--blocks",
    "3",           "--final", "10",         "--find", "pmut:0.01:0.6",  "--where", "Xtop=0.5",
    "--find-grid", "8",       "--simulate", "4",      "--quiet",        "--csv",   "t.csv"};

TEST(Resume, ATableCutInsideARowIsTakenBackToItsWholeRows) {
  // Each run's own hitting time, in a table and in a shard of the runs.
  const std::vector<std::string> own_times = with(kHitting, {"--hitting-runs"});
  const std::vector<std::string> own_shard = with(own_times, {"--shard", "1/2"});
  for (const auto* study : {&kHitting, &kSimulatedSearch, &own_times, &own_shard}) {
    const std::string whole = whole_table(*study);
    ASSERT_TRUE(study != &kSimulatedSearch ||
                whole.find("\nsimulated_threshold,30,6,") != whole.npos)
        << whole;
    TemporaryDirectory dir;
    std::vector<std::size_t> cuts = {0, 10, whole.find('\n')};
    for (std::size_t at = whole.find('\n'); at != std::string::npos;
         at = whole.find('\n', at + 1)) {
      cuts.push_back(at - 3);
    }
    for (const std::size_t cut : cuts) {
      write_file(dir.path() + "/t.csv", whole.substr(0, cut));
      const ProgramRun again = run(dir, with(*study, {"--resume"}));
      ASSERT_EQ(again.exit_status, 0) << "cut at " << cut << ": " << again.err;
      ASSERT_EQ(read_file(dir.path() + "/t.csv"), whole) << "cut at " << cut;
      EXPECT_NE(
          again.err.find(cut <= whole.find('\n') ? "holds no whole header" : "ends inside line"),
          std::string::npos)
          << again.err;
    }
  }
  // The start of something else is not this study's: refused, left.
  TemporaryDirectory dir;
  write_file(dir.path() + "/t.csv", "my notes");
  EXPECT_EQ(run(dir, with(kHitting, {"--resume"})).exit_status, 2);
  EXPECT_EQ(read_file(dir.path() + "/t.csv"), "my notes");
}

// Standard output that fails (a full device, closed, a reader gone) stops
// the study with whole rows in its table, in words; --resume completes it.
TEST(Resume, AFailingStandardOutputLeavesATableResumeCompletes) {
  std::vector<std::string> loud = kSweep;
  loud.erase(std::find(loud.begin(), loud.end(), "--quiet"));
  const std::string whole = whole_table(loud);
  const struct {
    std::string output;
    bool go_away;
    std::string says;
  } cases[] = {
      {"/dev/full", false, "stopped: disk full (status 112"},
      {testing::kClosed, false, "stopped: bad file descriptor (a closed stream) (status 9"},
      {testing::kPipe, true, "stopped: broken pipe (status 32"}};
  for (const auto& c : cases) {
    TemporaryDirectory dir;
    RunOptions options;
    options.standard_output = c.output;
    if (c.go_away) {
      options.watch = [](testing::RunSoFar& now) {
        return now.out.empty() ? testing::kKeepWatching : testing::kGoAway;
      };
    }
    const ProgramRun failed = run(dir, loud, options);
    EXPECT_NE(failed.exit_status, 0);
    EXPECT_NE(failed.err.find(c.says), std::string::npos) << failed.err;
    const std::string cut = read_file(dir.path() + "/t.csv");
    ASSERT_FALSE(cut.empty());
    EXPECT_EQ(cut.back(), '\n') << c.output;
    EXPECT_EQ(whole.compare(0, cut.size(), cut), 0) << c.output;
    const ProgramRun again = run(dir, with(loud, {"--resume", "--quiet"}));
    EXPECT_EQ(again.exit_status, 0) << again.err;
    EXPECT_EQ(read_file(dir.path() + "/t.csv"), whole) << c.output;
  }
}

// A point killed from outside has its row 137 and the study its status;
// resume runs it again. The study itself killed leaves a table resume
// takes back to whole rows.
TEST(Resume, KilledPointsAndAKilledStudyRunAgain) {
  const std::string whole = whole_table(kSweep);
  TemporaryDirectory dir;
  RunOptions options;
  bool killed = false;
  options.watch = [&](testing::RunSoFar& now) {
    for (const pid_t point : testing::children_of(now.pid)) {
      if (!killed) ::kill(point, SIGKILL);
      killed = true;
    }
    return testing::kKeepWatching;
  };
  const ProgramRun first = run(dir, kSweep, options);
  ASSERT_TRUE(killed);
  EXPECT_EQ(first.exit_status, 137) << first.err;
  EXPECT_NE(first.err.find(": ended by signal 9"), std::string::npos) << first.err;
  const ProgramRun again = run(dir, with(kSweep, {"--resume"}));
  EXPECT_EQ(again.exit_status, 0) << again.err;
  EXPECT_EQ(read_file(dir.path() + "/t.csv"), whole);
  // The study killed at several moments, resumed each time.
  TemporaryDirectory killed_dir;
  for (const int ms : {150, 400, 800}) {
    RunOptions kill_options;
    kill_options.watch = after(std::chrono::milliseconds(ms), SIGKILL);
    run(killed_dir, with(kSweep, {"--resume"}), kill_options);
  }
  const ProgramRun last = run(killed_dir, with(kSweep, {"--resume"}));
  EXPECT_EQ(last.exit_status, 0) << last.err;
  EXPECT_EQ(read_file(killed_dir.path() + "/t.csv"), whole);
}

// Interrupts at random moments (one of them at once), single and double,
// each run resumed: no run loses a point it had kept, and the last resumed
// run ends with the uninterrupted table.
TEST(Resume, AnInterruptStormEndsInTheWholeTable) {
  const std::string whole = whole_table(kSweep);
  TemporaryDirectory dir;
  std::mt19937 random(20261207);
  const int signals[] = {SIGINT, SIGTERM, SIGHUP};
  int status = -1;
  for (int round = 0; round < 12 && status != 0; ++round) {
    const std::string before = read_file(dir.path() + "/t.csv");
    const auto delay = std::chrono::milliseconds(round == 3 ? 0 : 30 + random() % 600);
    const int signal = signals[random() % 3];
    const bool twice = random() % 4 == 0;
    RunOptions options;
    const auto start = Clock::now();
    int sent = 0;
    options.watch = [&](testing::RunSoFar&) {
      if (Clock::now() - start < delay + std::chrono::milliseconds(sent * 5)) {
        return testing::kKeepWatching;
      }
      ++sent;
      return sent == 1 || (twice && sent == 2) ? signal : testing::kKeepWatching;
    };
    const ProgramRun r = run(dir, with(kSweep, {"--resume"}), options);
    status = r.exit_status;
    if (r.signal != 0) {
      // Whole rows of the whole table, in its order (points still missing
      // leave gaps); whatever was complete before is still there.
      const std::string after_run = read_file(dir.path() + "/t.csv");
      EXPECT_TRUE(in_order_within(after_run, whole)) << "round " << round;
      if (!twice) {
        EXPECT_GE(after_run.size(), before.size()) << "round " << round << r.err;
      }
    }
  }
  // However far the storm let it come, one more run completes it.
  if (status != 0) status = run(dir, with(kSweep, {"--resume"})).exit_status;
  ASSERT_EQ(status, 0);
  EXPECT_EQ(read_file(dir.path() + "/t.csv"), whole);
}

// The table swapped for a link while a study resumes it: the link's target
// is never written, the link not replaced, and the resumed table kept.
TEST(Resume, ATableSwappedForALinkIsNeverFollowed) {
  TemporaryDirectory dir;
  const std::string d = dir.path() + "/";
  // Interrupted once the table holds its header and a point (a fixed time
  // may pass on a loaded machine before the header is written, and a table
  // without one is not resumed but written anew).
  RunOptions cut;
  cut.watch = [&](testing::RunSoFar&) {
    const std::string table = fs::exists(d + "t.csv") ? read_file(d + "t.csv") : "";
    return std::count(table.begin(), table.end(), '\n') >= 2 ? SIGINT : testing::kKeepWatching;
  };
  run(dir, kSweep, cut);
  write_file(d + "victim.txt", "precious\n");
  RunOptions swap;
  bool swapped = false;
  swap.watch = [&](testing::RunSoFar& now) {
    if (swapped || testing::children_of(now.pid).empty()) return testing::kKeepWatching;
    fs::rename(d + "t.csv", d + "moved.csv");
    fs::create_symlink("victim.txt", d + "t.csv");
    swapped = true;
    return testing::kKeepWatching;
  };
  const ProgramRun r = run(dir, with(kSweep, {"--resume"}), swap);
  ASSERT_TRUE(swapped);
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.err.find("'t.csv' was replaced by another file while the study resumed it"),
            std::string::npos)
      << r.err;
  EXPECT_EQ(read_file(d + "victim.txt"), "precious\n");
  EXPECT_TRUE(fs::is_symlink(d + "t.csv"));
  bool kept = false;
  for (const auto& entry : fs::directory_iterator(dir.path())) {
    kept = kept || entry.path().filename().string().starts_with("t.csv.resumed-");
  }
  EXPECT_TRUE(kept);
}

// Standard output or error sent into a file the command writes or reads is
// refused before anything is written.
TEST(Aliasing, StandardStreamsIntoTheCommandsOwnFilesAreRefused) {
  TemporaryDirectory dir;
  const std::string d = dir.path() + "/";
  const std::vector<std::string> small = {"--lambda", "10",      "--mu",           "5",
                                          "--pmut",   "0.3,0.2", "--block-length", "1",
                                          "--blocks", "3",       "--final",        "6"};
  for (const char* k : {"0", "1"}) {
    run(dir, with(small, {"--shard", std::string(k) + "/2", "--csv", std::string("a") + k}));
  }
  run(dir, with(small, {"--csv", "t.csv"}));
  write_file(d + "report.txt", "old report\n");
  const std::string a0 = read_file(d + "a0"), table = read_file(d + "t.csv");
  const struct {
    std::vector<std::string> args;
    std::string output, error;
    int flags;
    std::string says;
  } cases[] = {
      {with(small, {"--csv", "t.csv", "--force"}), "t.csv", "", 0, "standard output is 't.csv'"},
      {with(small, {"--csv", "t.csv", "--force"}), "", "t.csv", O_APPEND,
       "standard error is 't.csv'"},
      {with(small, {"--csv", "t.csv", "--resume"}), "t.csv", "", O_APPEND,
       "standard output is 't.csv'"},
      {{"--lambda", "10", "--mu", "5", "--pmut", "0.3", "--block-length", "1", "--blocks", "3",
        "--final", "6", "--output", "report.txt", "--force"},
       "report.txt",
       "",
       0,
       "standard output is 'report.txt'"},
      {{"merge", "a0", "a1"}, "a0", "", O_APPEND, "standard output is 'a0', a shard merge reads"},
      {{"merge", "a0", "a1"}, "a0", "", 0, "standard output is 'a0'"},
      {{"merge", "a0", "a1"}, "", "a1", O_APPEND, "standard error is 'a1'"},
      {{"plot", "t.csv", "f.svg"}, "t.csv", "", O_APPEND, "standard output is 't.csv'"},
  };
  for (const auto& c : cases) {
    RunOptions options;
    if (!c.output.empty()) options.standard_output = d + c.output;
    if (!c.error.empty()) options.standard_error = d + c.error;
    options.output_flags = c.flags;
    const ProgramRun r = run(dir, c.args, options);
    EXPECT_EQ(r.exit_status, 2) << c.says;
    const std::string said = c.error.empty() ? r.err : read_file(d + c.error);
    EXPECT_NE(said.find(c.says), std::string::npos) << c.says << ": " << said;
    EXPECT_EQ(read_file(d + "a0"), a0);
    EXPECT_EQ(read_file(d + "t.csv").substr(0, table.size()), table);
    EXPECT_EQ(read_file(d + "report.txt"), "old report\n");
  }
}

// Small limits: descriptors bound the points at once, with a message; a
// limit too small for one point, and a TMPDIR that is not there, are said
// in words; a point too big for memory is refused with its figures.
TEST(Limits, DescriptorsTmpdirAndMemoryAreSaidInWords) {
  TemporaryDirectory dir;
  const std::vector<std::string> many = {
      "--lambda", "20", "--mu",    "5",  "--pmut",  "0.001:0.5:300", "--block-length", "2",
      "--blocks", "5",  "--final", "30", "--quiet", "--csv",         "t.csv",          "--force"};
  ASSERT_EQ(run(dir, with(many, {"--jobs", "1"})).exit_status, 0);
  const std::string one_job = read_file(dir.path() + "/t.csv");
  RunOptions limited;
  limited.open_files_limit = 256;
  const ProgramRun bounded = run(dir, with(many, {"--jobs", "250"}), limited);
  EXPECT_EQ(bounded.exit_status, 0) << bounded.err;
  EXPECT_NE(bounded.err.find("--jobs 250: 46 points run at once, as many as the limit of 256 "
                             "open files allows (ulimit -n raises it)"),
            std::string::npos)
      << bounded.err;
  EXPECT_EQ(read_file(dir.path() + "/t.csv"), one_job);
#ifndef BLOCKLEVELS_SANITIZED
  // Not under the sanitizers: UndefinedBehaviorSanitizer's check of a
  // virtual call opens a pipe to probe memory, and with every descriptor
  // taken it reports an invalid object and ends the program.
  limited.open_files_limit = 8;
  const ProgramRun starved = run(dir, with(many, {"--jobs", "1"}), limited);
  EXPECT_EQ(starved.exit_status, 24);
  EXPECT_NE(starved.err.find("Too many open files (at most 8 at once; ulimit -n raises the limit)"),
            std::string::npos)
      << starved.err;
#endif
  ::setenv("TMPDIR", "/nonexistent-blocklevels", 1);
  const ProgramRun no_tmp = run(dir, {"--lambda", "10", "--mu", "5", "--pmut", "0.3",
                                      "--block-length", "1", "--blocks", "3", "--final", "6"});
  ::unsetenv("TMPDIR");
  EXPECT_EQ(no_tmp.exit_status, 3);
  EXPECT_EQ(no_tmp.err,
            "blocklevels: cannot create a file for the points' results in TMPDIR "
            "('/nonexistent-blocklevels'): No such file or directory\n");
#ifndef BLOCKLEVELS_SANITIZED
  TemporaryDirectory memory_dir;
  RunOptions small_memory;
  small_memory.memory_limit = std::size_t{2} << 30;
  const ProgramRun big =
      run(memory_dir,
          {"--simulate", "1", "--lambda", "2000000000", "--mu", "10", "--pmut", "0.001", "--blocks",
           "300", "--block-length", "4", "--final", "10", "--csv", "big.csv"},
          small_memory);
  EXPECT_EQ(big.exit_status, 203);
  EXPECT_NE(big.err.find("--simulate: lambda=2000000000 mu=10 "), std::string::npos) << big.err;
  EXPECT_NE(big.err.find(": a simulated run needs "), std::string::npos) << big.err;
  EXPECT_NE(big.err.find(" are available (the address-space limit (RLIMIT_AS))"), std::string::npos)
      << big.err;
  EXPECT_TRUE(fs::is_empty(memory_dir.path()));
#endif
}

}  // namespace
}  // namespace blocklevels
