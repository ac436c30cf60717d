// The command line seen from outside: the built program run with options.
// What plain data cannot say is here (tests/cases hold the option table);
// the values are compared with the model run in this process, bit for bit.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "model/model_run.hpp"
#include "support/run_program.hpp"
#include "support/test_points.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::run_in;
using testing::RunOptions;
using testing::TemporaryDirectory;

using testing::fields_of;
using testing::lines_of;

// Every X value of every model row, read back from its text, has the bits
// of the model's double for the pmut the row names, read as the dialogue
// reads it; and the report file is the dialogue's for the same answers.
TEST(CommandLine, CsvHoldsTheModelsDoublesAndTheReportFileIsTheDialogues) {
  TemporaryDirectory dir;
  const ProgramRun options_run =
      run_in(dir, {"--lambda", "30", "--mu", "7", "--pmut", "0.013:0.3:4:log", "--block-length",
                   "3", "--two-option", "1", "--blocks", "5", "--final", "40", "--step", "3",
                   "--csv", "all.csv", "--quiet"});
  ASSERT_EQ(options_run.exit_status, 0) << options_run.err;
  const testing::CsvText table(testing::read_file(dir.path() + "/all.csv"));
  ASSERT_EQ(table.size(), 4 * 13u);
  for (std::size_t point = 0; point < 4; ++point) {
    const std::string pmut = table.at(point * 13, "pmut");
    ReportedTails model;
    run_model(
        point_parameters(30, 7, parse_real_token(pmut).value, 3, 1, 5, 40, 3, Arithmetic::accurate),
        model);
    for (std::size_t k = 0; k < 13; ++k) {
      const std::size_t row = point * 13 + k;
      EXPECT_EQ(table.at(row, "t"), std::to_string(3 * (k + 1)));
      for (std::size_t j = 0; j < 5; ++j) {
        const std::string& text = table.at(row, "X" + std::to_string(j + 1));
        double value = 0;
        std::from_chars(text.data(), text.data() + text.size(), value);
        EXPECT_EQ(std::memcmp(&value, &model.tails[k][j], sizeof value), 0)
            << "pmut " << pmut << " t " << table.at(row, "t") << " X" << j + 1;
      }
    }
  }
  // The same answers through options and through the dialogue.
  const std::string answers = "20\n0.1\n3\n1\n2\n6\n2\n5\ndialogue.txt\n";
  ASSERT_EQ(testing::run_program(answers, dir.path()).exit_status, 0);
  ASSERT_EQ(run_in(dir, {"--lambda", "20", "--pmut", "0.1", "--block-length", "3", "--two-option",
                         "1", "--blocks", "2", "--final", "6", "--step", "2", "--mu", "5",
                         "--output", "options.txt"})
                .exit_status,
            0);
  EXPECT_EQ(testing::read_file(dir.path() + "/options.txt"),
            testing::read_file(dir.path() + "/dialogue.txt"));
}

// The help names the other commands, one line each, after the options;
// it still wins over an unknown option, as it always did.
TEST(CommandLine, HelpListsTheCommandsBesideTheOptions) {
  TemporaryDirectory dir;
  const ProgramRun help = run_in(dir, {"--help"});
  ASSERT_EQ(help.exit_status, 0) << help.err;
  EXPECT_EQ(help.err, "");
  const std::vector<std::string> lines = lines_of(help.out);
  for (const char* line :
       {"Usage: blocklevels [OPTIONS]",
        "  --lambda N                  offspring per generation, at least 1",
        "  blocklevels merge SHARD.csv...      the table of a whole study from its shards' tables",
        "  blocklevels plot TABLE.csv FIGURE   draws a table written before (or merged) without "
        "computing"}) {
    EXPECT_NE(std::find(lines.begin(), lines.end(), line), lines.end()) << line;
  }
  EXPECT_EQ(run_in(dir, {"--colour", "--help"}).out, help.out);
}

// The simulation does not depend on --jobs.
TEST(CommandLine, SimulationIsTheSameWhateverTheJobs) {
  TemporaryDirectory dir;
  const std::vector<std::string> simulated = {
      "--lambda",   "300",      "--mu",   "100",     "--pmut",  "0.05",   "--block-length",
      "1,2",        "--blocks", "3",      "--final", "8",       "--step", "2",
      "--simulate", "7",        "--seed", "42",      "--quiet", "--csv"};
  auto with = [&](std::vector<std::string> more) {
    std::vector<std::string> args = simulated;
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  ASSERT_EQ(run_in(dir, with({"one.csv", "--jobs", "1"})).exit_status, 0);
  ASSERT_EQ(run_in(dir, with({"two.csv", "--jobs", "2"})).exit_status, 0);
  const std::string one = testing::read_file(dir.path() + "/one.csv");
  EXPECT_EQ(one, testing::read_file(dir.path() + "/two.csv"));
  EXPECT_NE(one.find("\nsimulation_ci95,300,100,0.05,2,0,3,8,2,level,accurate,7,42,8,,"),
            std::string::npos);
}

// The figure is a real image of a sensible size under exactly the name
// given; names that would mean something to a script run nothing.
TEST(CommandLine, PlotIsAnImageAndItsNameInjectsNothing) {
  if (std::system("command -v gnuplot >/dev/null 2>&1") != 0) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  const std::string name = "a'b\"; system 'touch injected' #\n`touch injected2`$(x).png";
  const ProgramRun r = run_in(
      dir, {"--lambda", "100", "--mu", "10", "--pmut", "0.01,0.02", "--block-length", "1",
            "--blocks", "10", "--final", "40", "--plot", name, "--quiet", "--simulate", "2"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::string png = testing::read_file(dir.path() + "/" + name);
  ASSERT_GT(png.size(), 24u);
  EXPECT_EQ(png.substr(0, 8), "\x89PNG\r\n\x1a\n");
  auto big_endian = [&](std::size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24 |
            static_cast<unsigned char>(png[at + 1]) << 16 |
            static_cast<unsigned char>(png[at + 2]) << 8 | static_cast<unsigned char>(png[at + 3]));
  };
  EXPECT_GE(big_endian(16), 800);  // IHDR width
  EXPECT_GE(big_endian(20), 600);  // IHDR height
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

  ASSERT_EQ(run_in(dir, {"--lambda", "9", "--mu", "3", "--pmut", "0.1", "--block-length", "1",
                         "--blocks", "2", "--final", "5", "--plot", "f.svg", "--quiet"})
                .exit_status,
            0);
  EXPECT_NE(testing::read_file(dir.path() + "/f.svg").find("<svg"), std::string::npos);
  // Without gnuplot on the path: said so, and nothing written.
  const char* path = std::getenv("PATH");
  const std::string saved = path != nullptr ? path : "";
  ::setenv("PATH", "/nonexistent", 1);
  const ProgramRun missing =
      run_in(dir, {"--lambda", "9", "--mu", "3", "--pmut", "0.1", "--block-length", "1", "--blocks",
                   "2", "--final", "5", "--plot", "g.png", "--csv", "g.csv"});
  ::setenv("PATH", saved.c_str(), 1);
  EXPECT_EQ(missing.exit_status, 1);
  EXPECT_NE(missing.err.find("gnuplot"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/g.png"));
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/g.csv"));
}

// An interrupt, as soon as a point's summary is out, ends the points still
// running; every point that had ended is in the table whole, the others
// are named, and --resume on the same command completes the very table an
// uninterrupted run writes.
TEST(CommandLine, InterruptKeepsEndedPointsAndResumeCompletesTheTable) {
  const std::vector<std::string> study = {
      "--lambda",       "1000", "--mu",     "1000",   "--pmut",  "0.0001:0.0008:8",
      "--block-length", "1",    "--blocks", "300",    "--final", "3000",
      "--jobs",         "2",    "--csv",    "cut.csv"};
  TemporaryDirectory whole;
  ASSERT_EQ(run_in(whole, study).exit_status, 0);
  const std::string expected = testing::read_file(whole.path() + "/cut.csv");
  for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
    TemporaryDirectory dir;
    RunOptions options;
    options.args = study;
    std::vector<pid_t> points;
    options.watch = [&](testing::RunSoFar& so_far) {
      if (so_far.out.find('\n') == std::string::npos) return testing::kKeepWatching;
      // Between a point's end and the next point's start no point may be
      // running; the interrupt is sent while some are.
      points = testing::children_of(so_far.pid);
      return points.empty() ? testing::kKeepWatching : signal;
    };
    const ProgramRun cut = testing::run_program("", dir.path(), options);
    EXPECT_EQ(cut.signal, signal);
    ASSERT_FALSE(points.empty());
    for (const pid_t point : points) EXPECT_FALSE(testing::running(point)) << "point " << point;
    EXPECT_NE(cut.err.find("points are incomplete ("), std::string::npos) << cut.err;
    EXPECT_NE(cut.err.find("; the same command with --resume continues\n"), std::string::npos);
    const std::vector<std::string> rows = lines_of(testing::read_file(dir.path() + "/cut.csv"));
    // Whole points only, 3000 rows each, each row whole: every point but the
    // ones named missing.
    const std::size_t said = cut.err.find("interrupted: ");
    ASSERT_NE(said, std::string::npos) << cut.err;
    const std::size_t missing = std::stoul(cut.err.substr(said + 13));
    ASSERT_GT(missing, 0u);
    EXPECT_EQ(rows.size(), 1 + 3000 * (8 - missing)) << cut.err;
    for (const std::string& row : rows) ASSERT_EQ(fields_of(row).size(), 338u);
    std::vector<std::string> resumed = study;
    resumed.push_back("--resume");
    const ProgramRun again = run_in(dir, resumed);
    EXPECT_EQ(again.exit_status, 0) << again.err;
    EXPECT_EQ(testing::read_file(dir.path() + "/cut.csv"), expected) << signal;
  }
  // A table of another seed is another study's: refused, left as it was.
  TemporaryDirectory seeds;
  const std::vector<std::string> simulated = {
      "--lambda", "40", "--mu",    "8", "--pmut",     "0.05", "--block-length", "1",
      "--blocks", "3",  "--final", "4", "--simulate", "3",    "--csv",          "s.csv"};
  std::vector<std::string> seed2 = simulated;
  seed2.insert(seed2.end(), {"--seed", "2"});
  ASSERT_EQ(run_in(seeds, seed2).exit_status, 0);
  const std::string seed2_table = testing::read_file(seeds.path() + "/s.csv");
  std::vector<std::string> resumed_seed1 = simulated;
  resumed_seed1.push_back("--resume");
  EXPECT_EQ(run_in(seeds, resumed_seed1).exit_status, 2);
  EXPECT_EQ(testing::read_file(seeds.path() + "/s.csv"), seed2_table);
  // A table of another study is refused and left as it was.
  std::vector<std::string> other = study;
  other[std::find(other.begin(), other.end(), "--final") - other.begin() + 1] = "2999";
  other.push_back("--resume");
  const ProgramRun refused = run_in(whole, other);
  EXPECT_EQ(refused.exit_status, 2);
  EXPECT_NE(refused.err.find("--resume: 'cut.csv' line 2 is not of this study"), std::string::npos)
      << refused.err;
  EXPECT_EQ(testing::read_file(whole.path() + "/cut.csv"), expected);
}

// A table cut after any whole row (a full disk cuts it so) and resumed is
// the whole table again: searches, whose rows per point are not known in
// advance, and hitting times, a shard's counts among them.
TEST(CommandLine, ResumeCompletesSearchesAndHittingTimesCutAnywhere) {
  const std::vector<std::vector<std::string>> studies = {
      {"--lambda", "100", "--mu", "5,70", "--block-length", "4", "--blocks", "30", "--final", "300",
       "--find", "pmut:0.0001:0.1", "--where", "Xtop=0.1", "--find-grid", "12", "--simulate", "2"},
      {"--lambda", "30", "--mu", "6", "--pmut", "0.05,0.3", "--block-length", "2", "--blocks", "3",
       "--final", "20", "--step", "5", "--hitting", "X2=0.5", "--simulate", "6"},
      {"--lambda",  "30",       "--mu",       "6",       "--pmut",  "0.05,0.3", "--block-length",
       "2",         "--blocks", "3",          "--final", "20",      "--step",   "5",
       "--hitting", "X2=0.5",   "--simulate", "6",       "--shard", "1/2"},
  };
  for (std::vector<std::string> study : studies) {
    study.insert(study.end(), {"--quiet", "--csv", "t.csv"});
    TemporaryDirectory dir;
    ASSERT_EQ(run_in(dir, study).exit_status, 0);
    const std::string whole = testing::read_file(dir.path() + "/t.csv");
    study.push_back("--resume");
    for (std::size_t cut = whole.find('\n'); cut != std::string::npos;
         cut = whole.find('\n', cut + 1)) {
      std::FILE* file = std::fopen((dir.path() + "/t.csv").c_str(), "wb");
      std::fwrite(whole.data(), 1, cut + 1, file);
      std::fclose(file);
      const ProgramRun again = run_in(dir, study);
      ASSERT_EQ(again.exit_status, 0) << study[1] << " cut at " << cut << ": " << again.err;
      ASSERT_EQ(testing::read_file(dir.path() + "/t.csv"), whole) << study[1] << " cut at " << cut;
    }
  }
}

// A summary line's simulated mean is the CSV's, its half-width the CSV's to
// two significant digits, and the model check follows it.
TEST(CommandLine, SummaryLinesGiveHalfWidthsToTwoDigits) {
  TemporaryDirectory dir;
  const ProgramRun r =
      run_in(dir, {"--lambda", "30,40", "--mu", "6", "--pmut", "0.05", "--block-length", "1",
                   "--blocks", "3", "--final", "4", "--simulate", "5", "--csv", "t.csv"});
  ASSERT_EQ(r.exit_status, 0) << r.err;
  const std::vector<std::string> summary = lines_of(r.out);
  ASSERT_EQ(summary.size(), 2u);
  // The last simulation and simulation_ci95 rows of each point.
  std::vector<std::string> means, half_widths;
  const testing::CsvText table(testing::read_file(dir.path() + "/t.csv"));
  for (std::size_t row = 0; row < table.size(); ++row) {
    if (table.at(row, "t") != "4") continue;
    if (table.at(row, "source") == "simulation") means.push_back(table.at(row, "mean_level"));
    if (table.at(row, "source") == "simulation_ci95") {
      half_widths.push_back(table.at(row, "mean_level"));
    }
  }
  ASSERT_EQ(means.size(), 2u);
  ASSERT_EQ(half_widths.size(), 2u);
  for (std::size_t n = 0; n < 2; ++n) {
    char two[32];
    std::snprintf(two, sizeof two, "%.2g", std::stod(half_widths[n]));
    // The model check follows.
    const std::string said = " simulated_mean_level=" + means[n] + "+-" + two + " model_vs_";
    EXPECT_NE(summary[n].find(said), std::string::npos) << summary[n] << "\nexpected " << said;
    EXPECT_NE(half_widths[n], two);  // the CSV keeps more digits
  }
}

}  // namespace
}  // namespace blocklevels
