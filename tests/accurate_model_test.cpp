// The accurate evaluation of the level model against the model's exact
// values (tests/reference/level_model_reference.py, 50 significant digits):
// every reported value v of every report within 1e-9 |r| + 1e-300 of the
// reference r. Cheap settings are computed by the script at test time; the
// costly ones (l = 50 over 500 generations, l = 300) come from its output
// stored beside it, level_model_reference.txt. The point transitions are
// compared with the exact differences of the cumulative matrix.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "model/model_run.hpp"
#include "model/transition_terms.hpp"
#include "support/run_program.hpp"
#include "support/test_points.hpp"

namespace blocklevels {
namespace {

const std::string kScript = BLOCKLEVELS_SOURCE_DIR "/tests/reference/level_model_reference.py";
const std::string kStored = BLOCKLEVELS_SOURCE_DIR "/tests/reference/level_model_reference.txt";

// The largest relative error of the settings here is 1.2e-15 (2^-64
// amplified by the model's own sensitivity over hundreds of generations).
constexpr double kPrecision = 1e-14;

// A setting as the script reads it: lambda mu pmut b acc l final step.
struct Setting {
  std::int32_t lambda, mu;
  const char* pmut;
  std::int32_t b, acc, l, final, step;
};

std::string line_of(const Setting& s) {
  char pmut[64];
  std::snprintf(pmut, sizeof pmut, "%La", std::strtold(s.pmut, nullptr));
  std::ostringstream line;
  line << s.lambda << ' ' << s.mu << ' ' << pmut << ' ' << s.b << ' ' << s.acc << ' ' << s.l << ' '
       << s.final << ' ' << s.step;
  return line.str();
}

PointParameters parameters_of(const std::string& line) {
  std::istringstream in(line);
  PointParameters p;
  std::string pmut;
  in >> p.lambda >> p.mu >> pmut >> p.block_length >> p.two_option_positions >> p.blocks >>
      p.final_iteration >> p.step_generations;
  p.Pmut = std::strtold(pmut.c_str(), nullptr);
  p.arithmetic = Arithmetic::accurate;
  return p;
}

// One setting's reports from the script: the setting's line, then each
// report's time and values.
struct Reference {
  std::string setting;
  std::vector<std::int64_t> times;
  std::vector<std::vector<long double>> values;
};

std::vector<Reference> read_references(std::istream& in) {
  std::vector<Reference> references;
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("setting ", 0) == 0) {
      references.push_back({line.substr(8), {}, {}});
    } else if (line != "end" && !references.empty()) {
      std::istringstream fields(line);
      std::int64_t t = 0;
      fields >> t;
      std::vector<long double> values;
      for (std::string v; fields >> v;) values.push_back(std::strtold(v.c_str(), nullptr));
      references.back().times.push_back(t);
      references.back().values.push_back(values);
    }
  }
  return references;
}

// "" when the accurate run reports what the reference holds, within the
// tolerance, else the first difference; and when the largest relative
// error of a value above 1e-300 (printed) is at most `precision`: the
// evaluation's own, far inside the tolerance, which a lost precision shows
// before the tolerance does.
std::string difference(const Reference& reference, double precision = kPrecision) {
  ReportedTails run;
  run_model(parameters_of(reference.setting), run);
  if (run.times != reference.times) return reference.setting + ": other report times";
  double worst = 0;
  for (std::size_t n = 0; n < run.times.size(); ++n) {
    if (run.tails[n].size() != reference.values[n].size()) return reference.setting + ": size";
    for (std::size_t j = 0; j < run.tails[n].size(); ++j) {
      const long double v = run.tails[n][j], r = reference.values[n][j];
      const long double error = std::fabs(v - r);
      if (std::fabs(r) > 1e-300L)
        worst = std::max(worst, static_cast<double>(error / std::fabs(r)));
      if (!(error <= 1e-9L * std::fabs(r) + 1e-300L)) {
        std::ostringstream out;
        out << reference.setting << ": t=" << run.times[n] << " X" << j + 1 << " = " << v
            << ", exact " << r;
        return out.str();
      }
    }
  }
  std::printf("%s: largest relative error %.3g\n", reference.setting.c_str(), worst);
  if (worst > precision) return reference.setting + ": less precise than before";
  return "";
}

// The script's output for these lines of settings, with these options, or
// nullopt when it cannot run here: no mpmath (its status 77) or no
// /usr/bin/python3 (127), said in `why`. Any other failure fails the test.
std::optional<std::string> reference_output(const std::vector<std::string>& lines,
                                            const std::string& options, std::string& why) {
  testing::TemporaryDirectory dir;
  const std::string input = dir.path() + "/settings";
  {
    std::ofstream out(input);
    for (const std::string& line : lines) out << line << '\n';
  }
  const std::string command =
      "/usr/bin/python3 " + kScript + " " + options + " < " + input + " 2>&1";
  FILE* script = ::popen(command.c_str(), "r");
  EXPECT_NE(script, nullptr);
  if (script == nullptr) return "";
  std::string text;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, script)) > 0;)
    text.append(buffer, n);
  const int status = ::pclose(script);
  const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  if (code == 77 || code == 127) {
    why = text;
    return std::nullopt;
  }
  EXPECT_EQ(code, 0) << text;
  return text;
}

TEST(AccurateModel, MatchesTheExactValuesComputedNow) {
  const Setting settings[] = {
      {10, 5, "0.3", 1, 0, 1, 6, 1},             // the dialogue's first worked example
      {20, 5, "0.1", 3, 1, 2, 6, 2},             // its second: both survival formulas
      {100, 30, "0.05", 3, 1, 12, 60, 6},        // acc > 0, acc < b
      {50, 10, "0.02", 4, 2, 15, 80, 8},         // the same with blocks of 4
      {100, 30, "0.5", 4, 1, 20, 40, 4},         // and a large Pmut
      {40, 10, "0.05", 2, 2, 12, 60, 5},         // acc = b
      {10000, 2000, "0.01", 1, 0, 20, 100, 10},  // b = 1 (the README's sweep)
      {30, 10, "0", 2, 0, 10, 10, 5},            // Pmut 0
      {30, 10, "1", 2, 0, 10, 20, 5},            // Pmut 1
      {30, 10, "1", 3, 1, 10, 20, 5},            // Pmut 1, acc < b
      {50, 50, "0.01", 1, 0, 30, 200, 20},       // mu = lambda
      {10, 15, "0.01", 2, 0, 10, 30, 3},         // mu > lambda
      {1000, 1, "0.003", 3, 0, 25, 100, 10},     // mu = 1
      {50, 10, "0.02", 2, 0, 12, 3000, 500},     // the steady state
      {100, 70, "0.000232631", 4, 0, 20, 200, 20},
      {100, 30, "1e-40", 3, 1, 30, 40, 5},  // T spans beyond 2^-1011 in every block
      {100, 30, "1e-19", 3, 1, 30, 40, 5},  // in some blocks
      // The cut at level 3 at generation 2 leaves it a share of 2.2e-9 of the
      // parents, 1 - lambda A[4] / mu, and (a complete block never survives
      // Pmut 1) they alone reach level 7: X7 is that share times 3^-7, as
      // precise as the share. A[4] rounded to double would make it 1.7e-8 off.
      {100000002, 44073567, "1", 1, 0, 10, 2, 1},
  };
  std::vector<std::string> lines;
  for (const Setting& s : settings) lines.push_back(line_of(s));
  std::string why;
  const std::optional<std::string> text = reference_output(lines, "", why);
  if (!text) GTEST_SKIP() << "no reference: " << why;
  std::istringstream in(*text);
  const std::vector<Reference> references = read_references(in);
  ASSERT_EQ(references.size(), std::size(settings));
  for (std::size_t n = 0; n + 1 < references.size(); ++n) {
    EXPECT_EQ(references[n].setting, lines[n]);
    EXPECT_EQ(difference(references[n]), "");
  }
  // The cut's share is as precise as A[4], about 1e-19 of 1, so 5e-11 of
  // its 2.2e-9: the model's own sensitivity there.
  EXPECT_EQ(references.back().setting, lines.back());
  EXPECT_EQ(difference(references.back(), 1e-10), "");
}

TEST(AccurateModel, MatchesTheStoredExactValues) {
  std::ifstream in(kStored);
  ASSERT_TRUE(in) << kStored;
  const std::vector<Reference> references = read_references(in);
  ASSERT_GE(references.size(), 3u);
  for (const Reference& reference : references) EXPECT_EQ(difference(reference), "");
}

// Every T[i][k] against the exact differences M[i][k] - M[i][k + 1],
// within (4l + 16) units of 2^-64 of it (the bound of transition_terms.hpp
// with a margin of two); where the survival formulas differ, T[i][i]
// within as much of T[i][i] + M[i][i + 1], the bound of its correction.
// The lower triangle of a small Pmut differs from 1 by little: the script
// needs the digits given.
TEST(PointTransitions, AreTheExactDifferencesOfTheCumulativeMatrix) {
  const struct {
    Setting s;
    const char* digits;
  } cases[] = {
      {{0, 0, "1e-12", 4, 0, 20, 0, 1}, "260"}, {{0, 0, "0.3", 3, 3, 15, 0, 1}, "50"},
      {{0, 0, "0.05", 4, 2, 20, 0, 1}, "80"},   {{0, 0, "1e-40", 3, 1, 12, 0, 1}, "500"},
      {{0, 0, "1", 2, 0, 10, 0, 1}, "50"},      {{0, 0, "0.001", 4, 0, 60, 0, 1}, "170"},
  };
  for (const auto& [setting, digits] : cases) {
    std::string why;
    const std::string line = line_of(setting);
    const std::optional<std::string> text =
        reference_output({line}, std::string("--transitions --digits ") + digits, why);
    if (!text) GTEST_SKIP() << "no reference: " << why;
    std::istringstream in(*text);
    std::string header;
    std::getline(in, header);
    ASSERT_EQ(header, "transitions " + line);
    const PointParameters p = parameters_of(line);
    const PointTransitions t =
        build_point_transitions(p.Pmut, p.block_length, p.two_option_positions, p.blocks);
    const long double units = (4.0L * p.blocks + 16) * 0x1p-64L;
    const bool mixed = p.two_option_positions > 0 && p.two_option_positions != p.block_length;
    for (std::int32_t i = 0; i <= p.blocks; ++i) {
      std::int32_t row = -1;
      in >> row;
      ASSERT_EQ(row, i) << line;
      std::vector<long double> exact(static_cast<std::size_t>(p.blocks) + 2);
      for (std::int32_t k = 1; k <= p.blocks; ++k) {
        std::string v;
        in >> v;
        exact[static_cast<std::size_t>(k)] = std::strtold(v.c_str(), nullptr);
      }
      long double rising = 0;  // M[i][i + 1]
      for (std::int32_t k = i + 1; k <= p.blocks; ++k) rising += exact[static_cast<std::size_t>(k)];
      for (std::int32_t k = 1; k <= p.blocks; ++k) {
        const long double r = exact[static_cast<std::size_t>(k)];
        const long double scale = std::fabs(r) + (mixed && k == i ? rising : 0.0L);
        ASSERT_LE(std::fabs(t.at(i, k) - r), units * scale + 1e-4900L)
            << line << ": T[" << i << "][" << k << "] = " << t.at(i, k) << ", exact " << r;
      }
    }
  }
}

}  // namespace
}  // namespace blocklevels
