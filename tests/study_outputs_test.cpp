// The files a study writes, seen from outside: one file never takes two
// roles, whatever path names it; a file a running study holds is refused;
// a full disk leaves whole rows and says which file; closed standard
// streams take no output; the points' processes end with the study's; a
// simulation whose populations do not all fit runs fewer at once.
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

namespace fs = std::filesystem;
using testing::ProgramRun;
using testing::read_file;
using testing::RunOptions;
using testing::TemporaryDirectory;

const std::vector<std::string> kRun = {"--lambda",       "10", "--mu",     "5", "--pmut",  "0.3",
                                       "--block-length", "1",  "--blocks", "3", "--final", "6",
                                       "--quiet"};

// kRun with `more`: an option kRun has takes the new value, another is added.
ProgramRun run(const TemporaryDirectory& dir, const std::vector<std::string>& more,
               RunOptions options = {}) {
  options.args = kRun;
  for (std::size_t n = 0; n < more.size(); ++n) {
    const bool has_value = n + 1 < more.size() && !more[n + 1].starts_with("--");
    const auto at = std::find(options.args.begin(), options.args.end(), more[n]);
    if (at != options.args.end() && has_value) {
      *(at + 1) = more[++n];
      continue;
    }
    options.args.push_back(more[n]);
    if (has_value) options.args.push_back(more[++n]);
  }
  return testing::run_program("", dir.path(), options);
}

TEST(StudyOutputs, OneFileNeverTakesTwoRoles) {
  TemporaryDirectory dir;
  const std::string d = dir.path() + "/";
  std::FILE* file = std::fopen((d + "a.csv").c_str(), "w");
  std::fputs("old\n", file);
  std::fclose(file);
  fs::create_hard_link(d + "a.csv", d + "hard.csv");
  fs::create_symlink("a.csv", d + "soft.csv");
  fs::create_symlink("new.csv", d + "dangling.csv");
  fs::create_directory(d + "sub");
  const struct {
    std::vector<std::string> outputs;
    std::string says;
  } cases[] = {
      {{"--csv", "a.csv", "--output", "hard.csv"}, "'a.csv' (--csv) and 'hard.csv' (--output)"},
      {{"--output", "soft.csv", "--csv", "./sub/../a.csv"},
       "'./sub/../a.csv' (--csv) and 'soft.csv' (--output)"},
      {{"--csv", "dangling.csv", "--output", "new.csv"},
       "'dangling.csv' (--csv) and 'new.csv' (--output)"},
      {{"--csv", "x.csv", "--plot", "./x.csv.png", "--output", "x.csv.png"},
       "'./x.csv.png' (--plot) and 'x.csv.png' (--output)"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> args = c.outputs;
    args.push_back("--force");
    const ProgramRun r = run(dir, args);
    EXPECT_EQ(r.exit_status, 2) << c.says;
    EXPECT_NE(r.err.find(c.says + " are one file"), std::string::npos) << r.err;
    EXPECT_EQ(read_file(d + "a.csv"), "old\n");
    EXPECT_FALSE(fs::exists(d + "new.csv"));
    EXPECT_FALSE(fs::exists(d + "x.csv"));
  }
  // Different files are taken, through links too.
  EXPECT_EQ(run(dir, {"--csv", "soft.csv", "--output", "dangling.csv", "--force"}).exit_status, 0);
  EXPECT_EQ(read_file(d + "hard.csv").substr(0, 7), "source,");
  EXPECT_EQ(read_file(d + "new.csv").substr(0, 13), "block length=");
}

TEST(StudyOutputs, ForceReplacesALongerFileWhole) {
  TemporaryDirectory dir;
  run(dir, {"--csv", "fresh.csv"});
  std::FILE* file = std::fopen((dir.path() + "/old.csv").c_str(), "w");
  for (int n = 0; n < 1000; ++n) std::fputs("an older and longer table\n", file);
  std::fclose(file);
  EXPECT_EQ(run(dir, {"--csv", "old.csv", "--force"}).exit_status, 0);
  EXPECT_EQ(read_file(dir.path() + "/old.csv"), read_file(dir.path() + "/fresh.csv"));
}

// A point ended by a signal says so, with 128 + the signal as its status;
// the study's status is its first failing point's, in the study's order.
TEST(StudyOutputs, APointKilledSaysSoAndTheFirstFailureIsTheStudys) {
#ifdef BLOCKLEVELS_SANITIZED
  // The first point's failure is an allocation that fails, which
  // AddressSanitizer turns into an abort.
  GTEST_SKIP() << "a failed allocation aborts under AddressSanitizer";
#endif
  TemporaryDirectory dir;
  RunOptions options;
  bool killed = false;
  options.watch = [&](testing::RunSoFar& now) {
    // The long second point, once the first has failed: one job at a time.
    if (killed || now.err.find("(status 203)\n") == std::string::npos) {
      return testing::kKeepWatching;
    }
    for (const pid_t point : testing::children_of(now.pid)) {
      ::kill(point, SIGKILL);
      killed = true;
    }
    return testing::kKeepWatching;
  };
  const ProgramRun r =
      run(dir,
          {"--lambda", "1000", "--mu", "1000", "--block-length", "2147483647,1", "--blocks", "3",
           "--final", "1000000", "--simulate", "1", "--jobs", "1", "--csv", "k.csv"},
          options);
  ASSERT_TRUE(killed);
  EXPECT_EQ(r.exit_status, 203) << r.err;
  EXPECT_NE(r.err.find("block_length=2147483647 two_option=0 blocks=3 final=1000000 step=1 "
                       "model=level arithmetic=accurate: stopped: out of memory (status 203)"),
            std::string::npos)
      << r.err;
  EXPECT_NE(r.err.find("block_length=1 two_option=0 blocks=3 final=1000000 step=1 model=level "
                       "arithmetic=accurate: ended by signal 9"),
            std::string::npos)
      << r.err;
  const std::string table = read_file(dir.path() + "/k.csv");
  EXPECT_NE(table.find(",1,0,3,1000000,1,level,accurate,,,,137,"), std::string::npos)
      << table.substr(0, 400);
}

TEST(StudyOutputs, AFileARunningStudyHoldsIsRefused) {
  TemporaryDirectory dir;
  RunOptions options;
  ProgramRun second;
  options.watch = [&](testing::RunSoFar&) {
    if (!fs::exists(dir.path() + "/x.csv")) return testing::kKeepWatching;
    second = run(dir, {"--csv", "x.csv", "--force"});
    return testing::kGoAway;
  };
  const ProgramRun first = run(
      dir,
      {"--csv", "x.csv", "--blocks", "300", "--final", "2000", "--lambda", "1000", "--mu", "100"},
      options);
  EXPECT_EQ(first.exit_status, 0) << first.err;
  EXPECT_EQ(second.exit_status, 1);
  EXPECT_EQ(second.err, "blocklevels: 'x.csv' is being written by another study; refused\n");
  EXPECT_EQ(read_file(dir.path() + "/x.csv").substr(0, 7), "source,");
}

TEST(StudyOutputs, AFullDiskLeavesWholeRowsAndSaysWhich) {
  TemporaryDirectory dir;
  RunOptions options;
  options.file_size_limit = 50000;  // writes beyond fail with EFBIG, 27
  const ProgramRun r =
      run(dir, {"--csv", "t.csv", "--lambda", "100,200,300", "--final", "400"}, options);
  EXPECT_EQ(r.exit_status, 27);
  EXPECT_NE(r.err.find("cannot write 't.csv': "), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("; the table ends with its last whole row\n"), std::string::npos);
  const std::string table = read_file(dir.path() + "/t.csv");
  ASSERT_GT(table.size(), 1000u);
  EXPECT_LE(table.size(), 50000u);
  EXPECT_EQ(table.back(), '\n');
}

TEST(StudyOutputs, ClosedStandardStreamsTakeNoOutput) {
  TemporaryDirectory dir;
  const std::string expected = [&] {
    run(dir, {"--csv", "whole.csv"});
    return read_file(dir.path() + "/whole.csv");
  }();
  RunOptions closed;
  closed.standard_output = testing::kClosed;
  EXPECT_EQ(run(dir, {"--csv", "quiet.csv"}, closed).exit_status, 0);
  EXPECT_EQ(read_file(dir.path() + "/quiet.csv"), expected);
  // Console lines with nowhere to go: the run fails, the table holds none.
  std::vector<std::string> loud = kRun;
  loud.pop_back();
  RunOptions to_nowhere = closed;
  to_nowhere.args = loud;
  to_nowhere.args.insert(to_nowhere.args.end(), {"--csv", "loud.csv"});
  EXPECT_EQ(testing::run_program("", dir.path(), to_nowhere).exit_status, 9);
  EXPECT_EQ(read_file(dir.path() + "/loud.csv").find("Xl("), std::string::npos);
  // A point out of memory with no standard error: its row says so. (Under
  // AddressSanitizer a failed allocation aborts instead of throwing.)
#ifndef BLOCKLEVELS_SANITIZED
  RunOptions no_errors;
  no_errors.standard_error = testing::kClosed;
  EXPECT_EQ(
      run(dir,
          {"--csv", "e.csv", "--lambda", "10", "--block-length", "1,2147483647", "--simulate", "2"},
          no_errors)
          .exit_status,
      203);
  const std::string e = read_file(dir.path() + "/e.csv");
  EXPECT_EQ(e.find("out of memory"), std::string::npos);
  EXPECT_NE(e.find("\nstopped,10,5,0.3,2147483647,0,3,6,1,level,accurate,,,,203,"),
            std::string::npos);
#endif
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gnuplot";
  RunOptions no_input;
  no_input.standard_input = testing::kClosed;
  EXPECT_EQ(run(dir, {"--plot", "f.svg"}, no_input).exit_status, 0);
  EXPECT_NE(read_file(dir.path() + "/f.svg").find("<svg"), std::string::npos);
}

TEST(StudyOutputs, PointsEndWithTheStudyEvenKilled) {
  TemporaryDirectory dir;
  RunOptions options;
  std::vector<pid_t> points;
  options.watch = [&](testing::RunSoFar& now) {
    points = testing::children_of(now.pid);
    return points.size() >= 2 ? SIGKILL : testing::kKeepWatching;
  };
  const ProgramRun r = run(dir,
                           {"--lambda", "1000", "--mu", "1000", "--pmut", "0.001:0.002:4",
                            "--blocks", "300", "--final", "20000", "--jobs", "2"},
                           options);
  EXPECT_EQ(r.signal, SIGKILL);
  ASSERT_GE(points.size(), 2u);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(1);
  for (const pid_t point : points) {
    while (testing::running(point) && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(testing::running(point)) << "point process " << point << " outlived the study";
  }
}

// Populations of 170 MB each (two pools of mu = 20000 chromosomes) under
// 300 MB of address space: one fits, two do not. The runs then go to the
// thread whose population fits, and the table is the one a single thread
// writes.
TEST(StudyOutputs, ASimulationTooBigForItsThreadsRunsOnFewer) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves far more address space than the limit";
#endif
  TemporaryDirectory dir;
  const std::vector<std::string> big = {
      "--lambda", "20000",    "--mu", "20000",   "--pmut", "0.001",      "--block-length",
      "10",       "--blocks", "300",  "--final", "3",      "--simulate", "2"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = big;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(run(dir, with({"--jobs", "1", "--csv", "one.csv"})).exit_status, 0);
  RunOptions tight;
  tight.memory_limit = std::size_t{300} << 20;
  const ProgramRun two = run(dir, with({"--jobs", "2", "--csv", "two.csv"}), tight);
  EXPECT_EQ(two.exit_status, 0) << two.err;
  EXPECT_EQ(read_file(dir.path() + "/two.csv"), read_file(dir.path() + "/one.csv"));
}

}  // namespace
}  // namespace blocklevels
