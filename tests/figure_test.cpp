// Figures, seen from outside: a table drawn later by `blocklevels plot`
// gives the very figure the study that wrote it drew (its SVG byte for
// byte), and the figure's labels say what they mean.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::ProgramRun;
using testing::read_file;
using testing::run_in;
using testing::TemporaryDirectory;

bool have_gnuplot() {
  return std::system("command -v gnuplot >/dev/null 2>&1") == 0;
}

// A single simulated point; six points over time; final values along a
// chosen axis on a log scale; a heat map.
const struct {
  std::vector<std::string> study;
  std::vector<std::string> figure;  // the figure's options, for both
} kFigures[] = {
    {{"--lambda", "60", "--mu", "6", "--pmut", "0.01", "--block-length", "2", "--blocks", "5",
      "--final", "40", "--simulate", "4"},
     {}},
    {{"--lambda", "20,40,80", "--mu", "5", "--pmut", "0.01,0.1", "--block-length", "2", "--blocks",
      "4", "--final", "30", "--step", "3"},
     {"--plot-size", "3.5x2.8"}},
    {{"--lambda", "30", "--mu", "3,6", "--pmut", "0.001:0.3:7:log", "--block-length", "2",
      "--blocks", "4", "--final", "20", "--step", "20"},
     {"--plot-x", "pmut", "--plot-logy"}},
    {{"--lambda", "30", "--mu", "1:30:4", "--pmut", "0.001:0.3:5:log", "--block-length", "2",
      "--blocks", "4", "--final", "20", "--step", "20"},
     {"--plot-map", "X3"}},
};

TEST(Figures, APlotOfATableIsTheStudysOwnFigure) {
  if (!have_gnuplot()) GTEST_SKIP() << "no gnuplot";
  for (const auto& f : kFigures) {
    TemporaryDirectory dir;
    std::vector<std::string> study = f.study;
    study.insert(study.end(), {"--quiet", "--csv", "t.csv", "--plot", "study.svg"});
    study.insert(study.end(), f.figure.begin(), f.figure.end());
    const ProgramRun computed = run_in(dir, study);
    ASSERT_EQ(computed.exit_status, 0) << f.study[1] << ": " << computed.err;
    std::vector<std::string> plot = {"plot", "t.csv", "table.svg"};
    plot.insert(plot.end(), f.figure.begin(), f.figure.end());
    const ProgramRun drawn = run_in(dir, plot);
    ASSERT_EQ(drawn.exit_status, 0) << f.study[1] << ": " << drawn.err;
    const std::string figure = read_file(dir.path() + "/study.svg");
    EXPECT_GT(figure.size(), 1000u);
    EXPECT_EQ(read_file(dir.path() + "/table.svg"), figure) << f.study[1];
  }
}

// The figure drawn from a table is never the table itself, by any path.
TEST(Figures, APlotNeverDrawsOverItsTable) {
  TemporaryDirectory dir;
  std::vector<std::string> study = kFigures[0].study;
  study.insert(study.end(), {"--quiet", "--csv", "t.csv"});
  ASSERT_EQ(run_in(dir, study).exit_status, 0);
  const std::string table = read_file(dir.path() + "/t.csv");
  std::filesystem::create_symlink("t.csv", dir.path() + "/link.png");
  std::filesystem::create_hard_link(dir.path() + "/t.csv", dir.path() + "/hard.svg");
  for (const std::string figure : {"link.png", "hard.svg"}) {
    const ProgramRun r = run_in(dir, {"plot", "t.csv", figure, "--force"});
    EXPECT_EQ(r.exit_status, 2) << figure;
    EXPECT_EQ(r.err, "blocklevels: '" + figure + "' (--plot) and 't.csv' (TABLE) are one file\n");
    EXPECT_EQ(read_file(dir.path() + "/t.csv"), table) << figure;
  }
}

TEST(Figures, LabelsSayWhatTheyMean) {
  if (!have_gnuplot()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  std::vector<std::string> study = kFigures[0].study;
  study.insert(study.end(), {"--quiet", "--plot", "f.svg"});
  ASSERT_EQ(run_in(dir, study).exit_status, 0);
  const std::string svg = read_file(dir.path() + "/f.svg");
  for (const char* label :
       {">lambda=60, mu=6, pmut=0.01, block_length=2, two_option=0, blocks=5, final=40, 4 "
        "simulated runs<",
        ">level 5<", ">level 4<", ">level 3<", ">mean level<", ">model<", ">simulated ± 95 %<",
        ">generation t<", ">fraction at or above", ">simulation - model<"}) {
    EXPECT_NE(svg.find(label), std::string::npos) << label;
  }
  // Several points: each curve named by the parameters that differ.
  TemporaryDirectory sweep;
  study = kFigures[1].study;
  study.insert(study.end(), {"--quiet", "--plot", "f.svg"});
  ASSERT_EQ(run_in(sweep, study).exit_status, 0);
  const std::string curves = read_file(sweep.path() + "/f.svg");
  for (const char* label :
       {">lambda=20, pmut=0.01<", ">lambda=80, pmut=0.1<", ">fraction at the top level<"}) {
    EXPECT_NE(curves.find(label), std::string::npos) << label;
  }
  // Thresholds where the top level is lost as pmut grows: falling, each.
  TemporaryDirectory search;
  ASSERT_EQ(run_in(search, {"--lambda", "100", "--mu", "5,30", "--block-length", "4", "--blocks",
                            "30", "--final", "300", "--find", "pmut:0.0001:0.1", "--where",
                            "Xtop=0.1", "--find-grid", "12", "--quiet", "--plot", "f.svg"})
                .exit_status,
            0);
  const std::string thresholds = read_file(search.path() + "/f.svg");
  EXPECT_NE(thresholds.find(">Xtop=0.1 falling below as pmut grows<"), std::string::npos);
  EXPECT_EQ(thresholds.find("rising above"), std::string::npos);
  EXPECT_NE(thresholds.find(">pmut where Xtop=0.1 at t=300<"), std::string::npos);
}

}  // namespace
}  // namespace blocklevels
