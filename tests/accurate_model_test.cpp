// The accurate evaluation of the level model against the model's exact
// values (tests/reference/level_model_reference.py, 50 significant digits):
// every reported value v of every report within 1e-9 |r| + 1e-300 of the
// reference r. Cheap settings are computed by the script at test time; the
// costly ones (l = 50 over 500 generations, l = 300) come from its output
// stored beside it, level_model_reference.txt.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "model/model_run.hpp"
#include "support/run_program.hpp"

namespace blocklevels {
namespace {

const std::string kScript = BLOCKLEVELS_SOURCE_DIR "/tests/reference/level_model_reference.py";
const std::string kStored = BLOCKLEVELS_SOURCE_DIR "/tests/reference/level_model_reference.txt";

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

struct Reports final : ModelSink {
  std::vector<std::int64_t> times;
  std::vector<std::vector<double>> tails;
  void start(std::int64_t) override {}
  void report(std::int64_t t, std::span<const double> tail) override {
    times.push_back(t);
    tails.emplace_back(tail.begin(), tail.end());
  }
};

// "" when the accurate run reports what the reference holds, within the
// tolerance, else the first difference. Prints the largest relative error
// of a value above 1e-300.
std::string difference(const Reference& reference) {
  Reports run;
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
  return "";
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
  };
  testing::TemporaryDirectory dir;
  const std::string input = dir.path() + "/settings";
  {
    std::ofstream out(input);
    for (const Setting& s : settings) out << line_of(s) << '\n';
  }
  FILE* script = ::popen(("/usr/bin/python3 " + kScript + " < " + input + " 2>&1").c_str(), "r");
  ASSERT_NE(script, nullptr);
  std::string text;
  char buffer[65536];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, script)) > 0;)
    text.append(buffer, n);
  const int status = ::pclose(script);
  if (WIFEXITED(status) && (WEXITSTATUS(status) == 77 || WEXITSTATUS(status) == 127)) {
    GTEST_SKIP() << "no reference: " << text;
  }
  ASSERT_EQ(status, 0) << text;
  std::istringstream in(text);
  const std::vector<Reference> references = read_references(in);
  ASSERT_EQ(references.size(), std::size(settings));
  for (std::size_t n = 0; n < references.size(); ++n) {
    EXPECT_EQ(references[n].setting, line_of(settings[n]));
    EXPECT_EQ(difference(references[n]), "");
  }
}

TEST(AccurateModel, MatchesTheStoredExactValues) {
  std::ifstream in(kStored);
  ASSERT_TRUE(in) << kStored;
  const std::vector<Reference> references = read_references(in);
  ASSERT_GE(references.size(), 3u);
  for (const Reference& reference : references) EXPECT_EQ(difference(reference), "");
}

}  // namespace
}  // namespace blocklevels
