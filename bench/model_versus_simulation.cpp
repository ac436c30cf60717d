// The level model and the block-state model against the real algorithm.
//
//   blocklevels_model_versus_simulation grid [LAMBDA MU RUNS FINAL]
//       every setting of b in {1, 2, 4, 8}, acc in {0, b/2}, pmut in
//       {0.01, 0.05}, l in {4, 10, 30} (default lambda 10000, mu 2000, 20
//       runs, 30 generations, seed 1): per setting the largest distance
//       between the simulated mean and each model over the mean level and
//       every X_j at every generation, in 95 % half-widths of the simulated
//       mean; and the first generation at which Xtop >= 0.5 of each model
//       and of the simulated runs (median, quartiles, runs that never did).
//   blocklevels_model_versus_simulation approximation
//       the independent-blocks evaluation against the exact one where the
//       latter is chosen (lambda 10000, mu 2000, 30 generations).
//   blocklevels_model_versus_simulation one LAMBDA MU PMUT B ACC L FINAL RUNS
//       one setting as a line of the grid.
//   blocklevels_model_versus_simulation figure LAMBDA MU PMUT B ACC L FINAL RUNS
//       one setting, every generation: t, then per quantity (mean level,
//       X_l, ..., X_1) the simulated mean, its half-width, the level model
//       and the block-state model, as whitespace-separated columns.
//
// The half-width is Student's t for runs - 1 degrees of freedom times the
// standard error over the runs. Where every run counts the same (often none
// of the offspring at a high level early on) it is 0 and would claim a
// certainty the runs do not have; there, and wherever it is smaller, the
// half-width of binomial sampling of lambda offspring at the model's value
// over the runs is taken instead (for the mean level, of sampling its level
// distribution). How often that floor decides is printed beside each row.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "model/block_state_run.hpp"
#include "model/model_run.hpp"
#include "parameters/quantity.hpp"
#include "simulation/hitting_summary.hpp"
#include "simulation/run_totals.hpp"
#include "simulation/simulation_runs.hpp"
#include "simulation/student_t.hpp"
#include "support/test_points.hpp"

namespace {

using blocklevels::PointParameters;
using Table = std::vector<std::vector<double>>;  // [generation - 1][j - 1]

struct Recorded final : blocklevels::ModelSink {
  Table tails;
  std::int64_t hit = 0;  // first generation with Xtop >= 0.5, 0 if none
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override {
    tails.emplace_back(tail.begin(), tail.end());
    if (hit == 0 && tail.back() >= 0.5) hit = static_cast<std::int64_t>(tails.size());
  }
};

double mean_level(const std::vector<double>& tail) {
  return blocklevels::sum_in_level_order(tail);
}

// Var(level) of the model's level distribution: E[L^2] = sum (2j - 1) X_j.
double level_variance(const std::vector<double>& tail) {
  double square = 0;
  for (std::size_t j = 0; j < tail.size(); ++j) square += static_cast<double>(2 * j + 1) * tail[j];
  const double mean = mean_level(tail);
  return std::max(0.0, square - mean * mean);
}

struct Distance {
  double largest = 0;
  double sign = 0;  // of model - simulation where the distance is largest
  std::string where;
  int floored = 0;  // cells where the binomial floor was larger than the sample half-width
  int zero = 0;     // cells whose sample half-width was 0
};

Distance distance(const blocklevels::simulation::Summary& s, const PointParameters& p,
                  const Table& model) {
  const double t975 = static_cast<double>(blocklevels::simulation::student_t_975(s.runs - 1));
  const double draws = static_cast<double>(p.lambda) * static_cast<double>(s.runs);
  Distance d;
  auto cell = [&](const blocklevels::simulation::Estimate& e, double value, double variance,
                  const std::string& where) {
    const double floor = t975 * std::sqrt(variance / draws);
    if (e.half_width == 0) ++d.zero;
    if (floor > e.half_width) ++d.floored;
    const double width = std::max(e.half_width, floor);
    const double gap = std::fabs(e.mean - value);
    const double z = width > 0 ? gap / width : (gap > 0 ? INFINITY : 0.0);
    if (z > d.largest) {
      char values[64];
      std::snprintf(values, sizeof values, " %.3g vs %.3g", value, e.mean);
      d.largest = z;
      d.sign = value > e.mean ? 1 : -1;
      d.where = where + values;
    }
  };
  for (std::size_t r = 0; r < model.size(); ++r) {
    const std::string t = " t=" + std::to_string(r + 1);
    cell(s.mean_level[r], mean_level(model[r]), level_variance(model[r]), "mean" + t);
    for (std::int32_t j = 1; j <= p.blocks; ++j) {
      const double x = model[r][static_cast<std::size_t>(j - 1)];
      cell(s.fraction_at(static_cast<std::int64_t>(r), j), x, x * (1 - x),
           "X" + std::to_string(j) + t);
    }
  }
  return d;
}

Recorded level_model(const PointParameters& p) {
  Recorded r;
  blocklevels::run_model(p, r);
  return r;
}

Recorded block_model(const PointParameters& p, blocklevels::BlockStateMethod method) {
  Recorded r;
  blocklevels::run_block_state_model(
      blocklevels::BlockStateMutation(p.Pmut, p.block_length, p.two_option_positions, p.blocks,
                                      method),
      p, r);
  return r;
}

// A Kaplan-Meier quartile of the runs' hitting times, "never" where fewer
// runs than that share reached the value.
std::string quartile(const std::optional<std::int64_t>& t) {
  return t ? std::to_string(*t) : "never";
}

std::string hit_text(std::int64_t hit) {
  return hit == 0 ? "never" : std::to_string(hit);
}

// One setting: the simulation and both models, one line.
void compare(const PointParameters& p, std::uint64_t runs) {
  const blocklevels::Condition top_half{{blocklevels::Quantity::Kind::top, 0}, 0.5L, "0.5"};
  const blocklevels::simulation::RunTotals totals =
      blocklevels::simulation::simulate_runs(p, 1, {runs, 0, 1}, 2, &top_half);
  const auto summary = blocklevels::simulation::summarize(totals, p.lambda);
  const auto hitting =
      blocklevels::simulation::summarize_hitting(totals.hitting(), p.final_iteration, p.lambda);
  const Recorded level = level_model(p);
  const blocklevels::BlockStateMethod method =
      blocklevels::chosen_method(p.block_length, p.two_option_positions, p.blocks);
  const Recorded block = block_model(p, method);
  const Distance dl = distance(summary, p, level.tails);
  const Distance db = distance(summary, p, block.tails);
  std::string independent = "   -   ";
  if (method == blocklevels::BlockStateMethod::exact) {
    const Recorded approx = block_model(p, blocklevels::BlockStateMethod::independent_blocks);
    char text[32];
    std::snprintf(text, sizeof text, "%7.2f", distance(summary, p, approx.tails).largest);
    independent = text;
  }
  const bool exact = method == blocklevels::BlockStateMethod::exact;
  std::printf(
      "%4d %3d %5.2f %2d | %+8.2f | %+8.2f %-17s| %s | %3d/%-3d of %4zu | %s %s %s "
      "[%s %s] %llu/%llu\n",
      p.block_length, p.two_option_positions, static_cast<double>(p.Pmut), p.blocks,
      dl.sign * dl.largest, db.sign * db.largest,
      ((exact ? "exact " : "indep ") + db.where).c_str(), independent.c_str(), db.floored, db.zero,
      static_cast<std::size_t>(p.final_iteration) * static_cast<std::size_t>(p.blocks + 1),
      hit_text(level.hit).c_str(), hit_text(block.hit).c_str(), quartile(hitting.median).c_str(),
      quartile(hitting.lower_quartile).c_str(), quartile(hitting.upper_quartile).c_str(),
      static_cast<unsigned long long>(runs - hitting.reached),
      static_cast<unsigned long long>(runs));
  std::fflush(stdout);
}

void header(std::int32_t lambda, std::int32_t mu, std::uint64_t runs, std::int32_t final) {
  std::printf(
      "# lambda %d mu %d, %llu runs (seed 1), %d generations; largest distances in 95 %% "
      "half-widths, signed as model - simulation\n"
      "#  b acc  pmut  l | level    | block-state (method, where: model vs simulation)      "
      "| indep.  | floored/zero "
      "half-widths of cells | Xtop>=0.5: level block sim-median [quartiles] never/runs\n",
      lambda, mu, static_cast<unsigned long long>(runs), final);
}

void grid(std::int32_t lambda, std::int32_t mu, std::uint64_t runs, std::int32_t final) {
  header(lambda, mu, runs, final);
  for (const std::int32_t b : {1, 2, 4, 8}) {
    const std::vector<std::int32_t> accs =
        b == 1 ? std::vector<std::int32_t>{0} : std::vector<std::int32_t>{0, b / 2};
    for (const std::int32_t acc : accs) {
      for (const long double pmut : {0.01L, 0.05L}) {
        for (const std::int32_t l : {4, 10, 30})
          compare({lambda, mu, pmut, b, acc, l, final, 1}, runs);
      }
    }
  }
}

// The independent-blocks approximation against the exact evaluation, over
// the grid's settings where the exact one is chosen: the largest absolute
// difference of any X_j at any generation, and the largest relative one
// among values of at least 1e-6.
void approximation(std::int32_t lambda, std::int32_t mu, std::int32_t final) {
  std::printf(
      "# lambda %d mu %d, %d generations: independent blocks - exact\n"
      "#  b acc  pmut  l | largest |difference| | largest relative (X >= 1e-6) | where\n",
      lambda, mu, final);
  for (const std::int32_t b : {2, 4, 8}) {
    for (const std::int32_t acc : {0, b / 2}) {
      for (const long double pmut : {0.01L, 0.05L}) {
        for (const std::int32_t l : {2, 4, 10, 30}) {
          if (blocklevels::chosen_method(b, acc, l) != blocklevels::BlockStateMethod::exact)
            continue;
          const PointParameters p =
              blocklevels::point_parameters(lambda, mu, pmut, b, acc, l, final, 1);
          const Table exact = block_model(p, blocklevels::BlockStateMethod::exact).tails;
          const Table approximate =
              block_model(p, blocklevels::BlockStateMethod::independent_blocks).tails;
          double absolute = 0, relative = 0;
          std::string where;
          for (std::size_t r = 0; r < exact.size(); ++r) {
            for (std::size_t j = 0; j < exact[r].size(); ++j) {
              const double d = approximate[r][j] - exact[r][j];
              if (std::fabs(d) > absolute) {
                absolute = std::fabs(d);
                where = "X" + std::to_string(j + 1) + " t=" + std::to_string(r + 1) +
                        (d > 0 ? " (above)" : " (below)");
              }
              if (exact[r][j] >= 1e-6) relative = std::max(relative, std::fabs(d) / exact[r][j]);
            }
          }
          std::printf("%4d %3d %5.2f %2d | %10.2e | %10.2e | %s\n", b, acc,
                      static_cast<double>(pmut), l, absolute, relative, where.c_str());
          std::fflush(stdout);
        }
      }
    }
  }
}

void figure(const PointParameters& p, std::uint64_t runs) {
  const auto summary = blocklevels::simulation::summarize(
      blocklevels::simulation::simulate_runs(p, 1, {runs, 0, 1}, 2), p.lambda);
  const Recorded level = level_model(p);
  const Recorded block = block_model(p, blocklevels::BlockStateMethod::automatic);
  std::printf(
      "# t, then per quantity (mean level, X%d..X1): simulated mean, half-width, level "
      "model, block-state model\n",
      p.blocks);
  for (std::size_t r = 0; r < level.tails.size(); ++r) {
    std::printf("%zu %.10g %.6g %.10g %.10g", r + 1, summary.mean_level[r].mean,
                summary.mean_level[r].half_width, mean_level(level.tails[r]),
                mean_level(block.tails[r]));
    for (std::int32_t j = p.blocks; j >= 1; --j) {
      const auto& e = summary.fraction_at(static_cast<std::int64_t>(r), j);
      std::printf(" %.10g %.6g %.10g %.10g", e.mean, e.half_width,
                  level.tails[r][static_cast<std::size_t>(j - 1)],
                  block.tails[r][static_cast<std::size_t>(j - 1)]);
    }
    std::printf("\n");
  }
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "grid";
  if (mode == "grid") {
    const std::int32_t lambda = argc > 2 ? std::atoi(argv[2]) : 10000;
    const std::int32_t mu = argc > 3 ? std::atoi(argv[3]) : 2000;
    const std::uint64_t runs = argc > 4 ? std::strtoull(argv[4], nullptr, 10) : 20;
    const std::int32_t final = argc > 5 ? std::atoi(argv[5]) : 30;
    grid(lambda, mu, runs, final);
    return 0;
  }
  if (mode == "approximation") {
    approximation(10000, 2000, 30);
    return 0;
  }
  if ((mode == "one" || mode == "figure") && argc == 10) {
    // LAMBDA MU PMUT B ACC L FINAL RUNS, a report every generation.
    const PointParameters p = blocklevels::point_parameters(
        std::atoi(argv[2]), std::atoi(argv[3]), std::strtold(argv[4], nullptr), std::atoi(argv[5]),
        std::atoi(argv[6]), std::atoi(argv[7]), std::atoi(argv[8]), 1);
    const std::uint64_t runs = std::strtoull(argv[9], nullptr, 10);
    if (mode == "one") {
      header(p.lambda, p.mu, runs, p.final_iteration);
      compare(p, runs);
    } else {
      figure(p, runs);
    }
    return 0;
  }
  std::fprintf(stderr,
               "usage: %s grid [LAMBDA MU RUNS FINAL]\n"
               "       %s approximation\n"
               "       %s one LAMBDA MU PMUT B ACC L FINAL RUNS\n"
               "       %s figure LAMBDA MU PMUT B ACC L FINAL RUNS\n",
               argv[0], argv[0], argv[0], argv[0]);
  return 2;
}
