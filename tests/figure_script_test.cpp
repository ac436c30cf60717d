// Figures as the program writes them: the script and data gnuplot is
// given (read through a gnuplot that keeps a copy), exact where it matters
// (which levels, their values, labels, sizes); the rendered files' sizes
// and gnuplot's silence; and the drawing's robustness (no initialisation
// file, the umask's mode, an interrupt while drawing).
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "support/run_program.hpp"

namespace blocklevels {
namespace {

using testing::CsvText;
using testing::ProgramRun;
using testing::read_file;
using testing::TemporaryDirectory;

std::string real_gnuplot() {
  FILE* p = ::popen("command -v gnuplot", "r");
  char path[4096] = {};
  const bool found = p != nullptr && std::fgets(path, sizeof path, p) != nullptr;
  if (p != nullptr) ::pclose(p);
  std::string text = found ? path : "";
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return text;
}

// PATH with a gnuplot first that keeps its script (script.gp) and its
// arguments (args) in `dir`, then runs the real one; `pause` seconds
// before it.
class ScriptKeeper {
 public:
  explicit ScriptKeeper(const std::string& dir, int pause = 0) : dir_(dir) {
    std::filesystem::create_directory(dir + "/bin");
    std::ofstream(dir + "/bin/gnuplot")
        << "#!/bin/sh\necho \"$@\" > " << dir << "/args\nsleep " << pause << "\ntee " << dir
        << "/script.gp | exec " << real_gnuplot() << " \"$@\"\n";
    std::filesystem::permissions(dir + "/bin/gnuplot", std::filesystem::perms::owner_all);
    old_path_ = std::getenv("PATH");
    ::setenv("PATH", (dir + "/bin:" + old_path_).c_str(), 1);
  }
  ~ScriptKeeper() { ::setenv("PATH", old_path_.c_str(), 1); }
  std::string script() const { return read_file(dir_ + "/script.gp"); }
  std::string args() const { return read_file(dir_ + "/args"); }

 private:
  std::string dir_, old_path_;
};

// The lines of a here-document "$name << EOD" ... "EOD".
std::vector<std::vector<double>> block(const std::string& script, const std::string& name) {
  std::vector<std::vector<double>> rows;
  const std::size_t start = script.find(name + " << EOD\n");
  if (start == std::string::npos) return rows;
  std::istringstream in(script.substr(start + name.size() + 8));
  for (std::string line; std::getline(in, line) && line != "EOD";) {
    std::istringstream fields(line);
    rows.emplace_back();
    for (std::string f; fields >> f;) rows.back().push_back(f == "NaN" ? NAN : std::stod(f));
  }
  return rows;
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Standard error without the model check's warning, which kSimulated's
// blocks of two positions draw (tests/model_check_test.cpp).
std::string besides_model_check(const std::string& err) {
  std::string rest;
  for (std::size_t at = 0; at < err.size();) {
    const std::size_t end = std::min(err.find('\n', at), err.size() - 1) + 1;
    const std::string line = err.substr(at, end - at);
    if (!contains(line, ": the simulation departs from the model (model=level): ")) rest += line;
    at = end;
  }
  return rest;
}

const std::vector<std::string> kSimulated = {
    "--lambda",   "60",       "--mu",    "6",       "--pmut", "0.01",   "--block-length",
    "2",          "--blocks", "12",      "--final", "40",     "--step", "4",
    "--simulate", "5",        "--quiet", "--csv",   "t.csv"};

// The levels drawn are --plot-levels', their values the table's, and the
// model check is simulation minus model at every report time.
TEST(FigureScripts, LevelsValuesAndTheModelCheckAreTheTables) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  const ScriptKeeper keeper(dir.path());
  std::vector<std::string> args = kSimulated;
  args.insert(args.end(), {"--plot", "f.svg", "--plot-levels", "top,3,top-4"});
  const ProgramRun run = testing::run_in(dir, args);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(besides_model_check(run.err), "");
  const std::string script = keeper.script();
  EXPECT_EQ(keeper.args(), "-d\n");
  const CsvText csv(read_file(dir.path() + "/t.csv"));
  const auto model = csv.rows_of("model"), sim = csv.rows_of("simulation");
  const auto m = block(script, "$m0"), d = block(script, "$d0");
  ASSERT_EQ(m.size(), model.size());
  ASSERT_EQ(d.size(), sim.size());
  for (std::size_t k = 0; k < m.size(); ++k) {
    ASSERT_EQ(m[k].size(), 5u);  // t, mean level, X12, X3, X8
    EXPECT_EQ(m[k][0], std::stod(csv.at(model[k], "t")));
    EXPECT_EQ(m[k][1], std::stod(csv.at(model[k], "mean_level")));
    EXPECT_EQ(m[k][2], std::stod(csv.at(model[k], "X12")));
    EXPECT_EQ(m[k][3], std::stod(csv.at(model[k], "X3")));
    EXPECT_EQ(m[k][4], std::stod(csv.at(model[k], "X8")));
    // Simulation minus model, and the simulation's half-width.
    const std::size_t ci = csv.rows_of("simulation_ci95")[k];
    EXPECT_EQ(d[k][1], std::stod(csv.at(sim[k], "X12")) - std::stod(csv.at(model[k], "X12")));
    EXPECT_EQ(d[k][2], std::stod(csv.at(ci, "X12")));
    EXPECT_EQ(d[k][5], std::stod(csv.at(sim[k], "X8")) - std::stod(csv.at(model[k], "X8")));
  }
  for (const char* part : {"title 'level 12'", "title 'level 3'", "title 'level 8'",
                           "title 'mean level'", "title 'model'", "title 'simulated ± 95 %'",
                           "'lambda=60, mu=6, pmut=0.01, block_length=2, two_option=0, blocks=12, "
                           "final=40, 5 simulated runs'",
                           // The mean level's axis: 0 to its 12 blocks, nothing beyond.
                           "set ytics 0, 5, 12\n", "set ylabel 'simulation - model'\n"}) {
    EXPECT_TRUE(contains(script, part)) << part;
  }
}

// The figure's words and size as given; a column's PDF with 7-point fonts
// at their printed size.
TEST(FigureScripts, TitleLabelsSizeAndFontsAsGiven) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  const ScriptKeeper keeper(dir.path());
  std::vector<std::string> args = kSimulated;
  args.insert(args.end(), {"--plot", "f.pdf", "--plot-size", "3.5x2.6", "--plot-title", "Fig. 'a'",
                           "--plot-xlabel", "t", "--plot-ylabel", "X", "--plot-font-scale", "1.5"});
  ASSERT_EQ(testing::run_in(dir, args).exit_status, 0);
  const std::string script = keeper.script();
  for (const char* part :
       {"set terminal pdfcairo size 3.5in,2.6in font 'sans,10.50' fontscale 0.75\n",
        "set label 1 'Fig. ''a''' at screen 0.5,", "set xlabel 't'\n", "set ylabel 'X'\n"}) {
    EXPECT_TRUE(contains(script, part)) << part;
  }
}

// Twelve curves, twelve colours; a blocks axis of 3 blocks ends at 3.
TEST(FigureScripts, TwelveCurvesHaveTwelveColours) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  const ScriptKeeper keeper(dir.path());
  ASSERT_EQ(testing::run_in(dir, {"--lambda", "20,30,40,50", "--mu", "1:5:5", "--pmut",
                                  "0.01,0.03,0.1", "--block-length", "2", "--blocks", "3",
                                  "--final", "10", "--step", "10", "--quiet", "--plot", "f.svg"})
                .exit_status,
            0);
  const std::string script = keeper.script();
  std::set<std::string> colours;
  const std::regex entry("keyentry with linespoints[^\\n]*lc rgb '(#[0-9a-f]{6})' title 'lambda=");
  for (std::sregex_iterator i(script.begin(), script.end(), entry), end; i != end; ++i) {
    colours.insert((*i)[1]);
  }
  EXPECT_EQ(colours.size(), 12u);
  EXPECT_TRUE(contains(script, "set ytics 0, 1, 3\n"));
  EXPECT_TRUE(contains(script, "set xlabel 'mu (values at t=10)'\n"));
}

// A swept search marks the values where it found no crossing; `plot`
// draws its table, without the grid.
TEST(FigureScripts, ThresholdsMarkWhereNoneWasFoundAndPlotDrawsTheirTable) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  const ScriptKeeper keeper(dir.path());
  const ProgramRun run = testing::run_in(
      dir, {"--lambda",    "100",     "--mu",    "5,95",   "--block-length",  "4",       "--blocks",
            "30",          "--final", "300",     "--find", "pmut:0.0001:0.1", "--where", "Xtop=0.1",
            "--find-grid", "12",      "--quiet", "--csv",  "t.csv",           "--plot",  "f.svg"});
  ASSERT_EQ(run.exit_status, 0) << run.err;
  // The warning is said whatever --quiet says.
  EXPECT_TRUE(contains(run.err, "mu=95 block_length=4") && contains(run.err, "does not cross"));
  const std::string script = keeper.script();
  EXPECT_TRUE(contains(script, "set label 101 '' at first 95, graph 0.04 point pt 2"));
  EXPECT_TRUE(contains(script, "title 'no crossing'"));
  EXPECT_TRUE(contains(script, "title 'Xtop=0.1 falling below as pmut grows'"));
  const ProgramRun plotted = testing::run_in(dir, {"plot", "t.csv", "g.svg"});
  ASSERT_EQ(plotted.exit_status, 0) << plotted.err;
  EXPECT_EQ(keeper.script(), script);  // the same script: no grid in either
  EXPECT_EQ(read_file(dir.path() + "/g.svg"), read_file(dir.path() + "/f.svg"));
}

// A simulated search draws its estimates with their intervals as the
// table holds them: a single search along x at the value sought, a swept
// one along y per swept value.
TEST(FigureScripts, SimulatedCrossingsAreTheTablesWithTheirIntervals) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  for (const char* mu : {"10", "10,30"}) {
    TemporaryDirectory dir;
    const ScriptKeeper keeper(dir.path());
    const ProgramRun run = testing::run_in(
        dir, {"--lambda",   "100",     "--mu",    mu,       "--block-length", "1",       "--blocks",
              "5",          "--final", "50",      "--find", "pmut:0.05:0.2",  "--where", "Xtop=0.5",
              "--simulate", "5",       "--quiet", "--csv",  "t.csv",          "--plot",  "f.svg"});
    ASSERT_EQ(run.exit_status, 0) << run.err;
    const std::string script = keeper.script();
    const bool single = std::string(mu) == "10";
    EXPECT_TRUE(contains(script, single ? "title 'simulated crossing (95 % band''s interval)'"
                                        : "title 'simulated Xtop=0.5 falling below as pmut grows'"))
        << script;
    const CsvText csv(read_file(dir.path() + "/t.csv"));
    const auto rows = csv.rows_of("simulated_threshold");
    ASSERT_EQ(rows.size(), single ? 1u : 2u);
    const auto drawn = block(script, single ? "$c2" : "$c1");
    ASSERT_EQ(drawn.size(), rows.size()) << script;
    for (std::size_t k = 0; k < rows.size(); ++k) {
      const double estimate = std::stod(csv.at(rows[k], "pmut"));
      EXPECT_EQ(drawn[k][single ? 0 : 1], estimate);
      EXPECT_EQ(drawn[k][single ? 1 : 0], single ? 0.5 : std::stod(csv.at(rows[k], "mu")));
      EXPECT_EQ(drawn[k][2], std::stod(csv.at(rows[k], "lower")));
      EXPECT_EQ(drawn[k][3], std::stod(csv.at(rows[k], "upper")));
    }
    EXPECT_TRUE(contains(script, single ? "with xerrorbars" : "with yerrorbars"));
  }
}

std::pair<int, int> png_size(const std::string& png) {
  const auto be = [&](std::size_t at) {
    return (static_cast<unsigned char>(png[at]) << 24) |
           (static_cast<unsigned char>(png[at + 1]) << 16) |
           (static_cast<unsigned char>(png[at + 2]) << 8) | static_cast<unsigned char>(png[at + 3]);
  };
  return png.size() > 24 ? std::pair(be(16), be(20)) : std::pair(0, 0);
}

// Rendered: a PNG of 100 pixels an inch, a PDF's page in points, and
// gnuplot silent (the program passes on any warning it gives).
TEST(FigureRendering, SizesAndNoWarnings) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  ASSERT_EQ(testing::run_in(dir, {"--lambda", "100", "--mu", "10", "--pmut", "0.001:0.1:7:log",
                                  "--block-length", "2", "--blocks", "8", "--final", "50",
                                  "--quiet", "--csv", "s.csv"})
                .exit_status,
            0);
  for (const auto& [figure, size] :
       {std::pair{"f.png", "3.5x2.6"}, std::pair{"g.png", "11x8"}, std::pair{"f.pdf", "3.5x2.6"}}) {
    const ProgramRun run = testing::run_in(dir, {"plot", "s.csv", figure, "--plot-size", size});
    ASSERT_EQ(run.exit_status, 0) << figure;
    EXPECT_EQ(run.err, "") << figure;
  }
  EXPECT_EQ(png_size(read_file(dir.path() + "/f.png")), std::pair(350, 260));
  EXPECT_EQ(png_size(read_file(dir.path() + "/g.png")), std::pair(1100, 800));
  EXPECT_TRUE(contains(read_file(dir.path() + "/f.pdf"), "/MediaBox [ 0 0 252 187 ]"));
  // Every kind of figure at a column's size draws without a word.
  for (const std::vector<std::string>& study : std::vector<std::vector<std::string>>{
           kSimulated,
           {"--lambda", "30", "--mu", "1:30:4", "--pmut", "0.001:0.3:5:log", "--block-length", "2",
            "--blocks", "4", "--final", "20", "--step", "20", "--plot-map", "X3"},
           {"--lambda", "100", "--mu", "10", "--block-length", "4", "--blocks", "20", "--final",
            "100", "--find", "pmut:0.0001:0.1", "--where", "Xtop=0.1", "--find-grid", "8"}}) {
    std::vector<std::string> args = study;
    args.insert(args.end(), {"--quiet", "--force", "--plot", "k.pdf", "--plot-size", "3.5x2.6"});
    const ProgramRun run = testing::run_in(dir, args);
    EXPECT_EQ(run.exit_status, 0) << study[1];
    EXPECT_EQ(besides_model_check(run.err), "") << study[1];
  }
}

// The words of a PDF with their boxes, in points from the page's top
// left (pdftotext -bbox, from poppler-utils).
struct Word {
  std::string text;
  double x_min, y_min, x_max, y_max;
};
std::vector<Word> pdf_words(const std::string& pdf) {
  std::vector<Word> words;
  FILE* p = ::popen(("pdftotext -bbox '" + pdf + "' - 2>/dev/null").c_str(), "r");
  if (p == nullptr) return words;
  std::string text;
  char chunk[4096];
  for (std::size_t n; (n = std::fread(chunk, 1, sizeof chunk, p)) > 0;) text.append(chunk, n);
  ::pclose(p);
  const std::regex word(
      "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">"
      "([^<]*)</word>");
  for (std::sregex_iterator i(text.begin(), text.end(), word), end; i != end; ++i) {
    words.push_back(
        {(*i)[5], std::stod((*i)[1]), std::stod((*i)[2]), std::stod((*i)[3]), std::stod((*i)[4])});
  }
  return words;
}

// At a paper column's size (3.5 x 2.6 in, 252 x 187.2 points) every word
// of the figure lies on the page, and the key's entries take at most a
// fifth of its height: a simulated point's figure, and twelve curves.
TEST(FigureRendering, AtAColumnsSizeEveryWordFitsAndTheKeyTakesAFifth) {
  if (real_gnuplot().empty() || std::system("command -v pdftotext >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "no gnuplot or pdftotext";
  }
  TemporaryDirectory dir;
  const std::vector<std::string> twelve = {
      "--lambda",       "20,30,40,50", "--mu",     "1:5:5", "--pmut",  "0.01,0.03,0.1",
      "--block-length", "2",           "--blocks", "3",     "--final", "10",
      "--step",         "10",          "--quiet"};
  for (const auto& [study, key_word] :
       {std::pair{kSimulated, std::regex("level|mean|model|simulated")},
        std::pair{twelve, std::regex("lambda=.*")}}) {
    std::vector<std::string> args = study;
    args.insert(args.end(), {"--force", "--plot", "f.pdf", "--plot-size", "3.5x2.6"});
    ASSERT_EQ(testing::run_in(dir, args).exit_status, 0);
    const std::vector<Word> words = pdf_words(dir.path() + "/f.pdf");
    ASSERT_GT(words.size(), 20u);
    double top = 1e9, bottom = 0;
    for (const Word& w : words) {
      EXPECT_TRUE(w.x_min >= 0 && w.x_max <= 252 && w.y_min >= 0 && w.y_max <= 187.2) << w.text;
      // The key's words beneath the panels (a key at their right is not
      // measured; a y axis' label stands at the left edge).
      if (!std::regex_match(w.text, key_word) || w.y_min < 187.2 / 2 || w.x_min < 20) continue;
      top = std::min(top, w.y_min);
      bottom = std::max(bottom, w.y_max);
    }
    if (bottom > 0) {
      EXPECT_LE(bottom - top, 187.2 / 5) << study[1];
    }
  }
}

// No initialisation file reaches gnuplot: a ~/.gnuplot that sets a title
// and an output changes no byte and creates no file; the figure has the
// umask's mode.
TEST(FigureRobustness, NoInitialisationFileAndTheUmasksMode) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir, home;
  std::ofstream(home.path() + "/.gnuplot")
      << "set output '" << home.path() << "/taken'\nset title 'not ours'\nset grid noxtics\n";
  const std::vector<std::string> study = {
      "--lambda", "20", "--mu",    "5", "--pmut",  "0.1",     "--block-length", "2",
      "--blocks", "3",  "--final", "6", "--quiet", "--force", "--plot"};
  std::vector<std::string> args = study;
  args.push_back("a.svg");
  ASSERT_EQ(testing::run_in(dir, args).exit_status, 0);
  const std::string old_home = std::getenv("HOME") != nullptr ? std::getenv("HOME") : "";
  ::setenv("HOME", home.path().c_str(), 1);
  const mode_t old_mask = ::umask(027);
  args.back() = "b.svg";
  const ProgramRun run = testing::run_in(dir, args);
  ::umask(old_mask);
  ::setenv("HOME", old_home.c_str(), 1);
  ASSERT_EQ(run.exit_status, 0) << run.err;
  EXPECT_EQ(read_file(dir.path() + "/b.svg"), read_file(dir.path() + "/a.svg"));
  EXPECT_FALSE(std::filesystem::exists(home.path() + "/taken"));
  struct stat info {};
  ASSERT_EQ(::stat((dir.path() + "/b.svg").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0640u);
}

// A draft beside the figure, named .NAME.XXXXXX.
bool has_draft(const std::string& dir, const std::string& figure) {
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.path().filename().string().starts_with("." + figure + ".")) return true;
  }
  return false;
}

// An interrupt while gnuplot draws ends the command by that signal and
// leaves no draft: `plot`, and a study's figure phase (its interrupts
// deferred).
TEST(FigureRobustness, AnInterruptWhileDrawingLeavesNoDraft) {
  if (real_gnuplot().empty()) GTEST_SKIP() << "no gnuplot";
  TemporaryDirectory dir;
  std::vector<std::string> study = {"--lambda",       "20",    "--mu",     "5", "--pmut",  "0.1",
                                    "--block-length", "2",     "--blocks", "3", "--final", "6",
                                    "--quiet",        "--csv", "t.csv"};
  ASSERT_EQ(testing::run_in(dir, study).exit_status, 0);
  const ScriptKeeper keeper(dir.path(), 20);
  study[study.size() - 2] = "--plot";
  study.back() = "s.svg";
  for (const auto& [args, figure] :
       {std::pair{std::vector<std::string>{"plot", "t.csv", "p.svg"}, std::string("p.svg")},
        std::pair{study, std::string("s.svg")}}) {
    for (const int signal : {SIGINT, SIGTERM}) {
      testing::RunOptions options;
      options.args = args;
      options.watch = [&](testing::RunSoFar&) {
        return has_draft(dir.path(), figure) ? signal : testing::kKeepWatching;
      };
      const ProgramRun run = testing::run_program("", dir.path(), options);
      EXPECT_TRUE(run.acted) << figure;
      EXPECT_EQ(run.signal, signal) << figure;
      EXPECT_FALSE(has_draft(dir.path(), figure)) << figure;
      EXPECT_FALSE(std::filesystem::exists(dir.path() + "/" + figure)) << figure;
    }
  }
}

}  // namespace
}  // namespace blocklevels
