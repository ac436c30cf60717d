// What a figure keeps of the results passing by: a curve over the
// generations at most about kMostReportsDrawn of its reports (every
// stride-th and the latest), and, once the figure can only show final
// values, each point's latest report alone, so that the figure is the one
// every report would have given.
#include "figures/figure_points.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "command_line/command_line.hpp"
#include "figures/plot.hpp"
#include "figures/study_figure.hpp"

namespace blocklevels {
namespace {

Study study_of(std::vector<std::string> args) {
  args.insert(args.begin(), "blocklevels");
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  std::optional<Study> study = parse_command_line(static_cast<int>(argv.size()), argv.data());
  EXPECT_TRUE(study);
  return std::move(*study);
}

// Reports whose values say their generation and point: X1 = t / 1e6 +
// number, X2 half of it; the simulation's a tenth above.
void feed(FigureCollector& figure, const Point& point, std::size_t number, std::int64_t reports,
          bool simulated) {
  figure.begin_point(point, number);
  for (std::int64_t t = 1; t <= reports; ++t) {
    const double x = static_cast<double>(t) / 1e6 + static_cast<double>(number);
    figure.take({point, ModelReport{t, {x, x / 2}}});
    if (!simulated) continue;
    const simulation::Estimate level{x, 0.01}, e1{x + 0.1, 0.02}, e2{x / 2 + 0.1, 0.03};
    figure.take({point, SimulationReport{t, level, {e1, e2}}});
  }
}

std::vector<double> generations(std::initializer_list<std::int64_t> from_to_by, std::int64_t last) {
  const auto* v = from_to_by.begin();
  std::vector<double> t;
  for (std::int64_t g = v[0]; g <= v[1]; g += v[2]) t.push_back(static_cast<double>(g));
  if (t.back() != static_cast<double>(last)) t.push_back(static_cast<double>(last));
  return t;
}

TEST(FigurePoints, ACurveKeepsEveryStrideThReportAndTheLatest) {
  const struct {
    std::int64_t final, stopped_after;  // reports given
    std::vector<double> t;
    std::string note;
  } kCases[] = {
      {2000, 2000, generations({1, 2000, 1}, 2000), ""},
      {2001, 2001, generations({1, 2001, 2}, 2001),
       "--plot: the curves draw one report in 2 of 2001, and the last"},
      {4001, 4001, generations({1, 4000, 3}, 4001),
       "--plot: the curves draw one report in 3 of 4001, and the last"},
      // A point that stopped: its curve ends at its latest report.
      {4001, 2500, generations({1, 2500, 3}, 2500),
       "--plot: the curves draw one report in 3 of 4001, and the last"},
  };
  for (const auto& c : kCases) {
    const Study study =
        study_of({"--lambda", "10", "--mu", "5", "--pmut", "0.1", "--block-length", "1", "--blocks",
                  "2", "--final", std::to_string(c.final), "--simulate", "2"});
    FigureCollector figure(study);
    feed(figure, study.points[0], 0, c.stopped_after, true);
    const PlotSeries& s = figure.points()[0].series;
    EXPECT_EQ(s.t, c.t) << c.final << " " << c.stopped_after;
    EXPECT_EQ(s.simulated_t, c.t) << c.final << " " << c.stopped_after;
    ASSERT_EQ(s.fraction.size(), 3u);  // top, top-1, top-2 (no such level)
    ASSERT_EQ(s.fraction[0].size(), c.t.size());
    for (std::size_t k = 0; k < c.t.size(); ++k) {
      const double x = c.t[k] / 1e6;
      ASSERT_EQ(s.fraction[0][k], x / 2) << k;
      ASSERT_EQ(s.fraction[1][k], x) << k;
      ASSERT_EQ(s.mean_level[k], x + x / 2) << k;
      ASSERT_EQ(s.simulated_fraction[0][k], x / 2 + 0.1) << k;
      ASSERT_EQ(s.simulated_fraction_ci[1][k], 0.02) << k;
      ASSERT_EQ(s.simulated_mean_level[k], x) << k;
    }
    EXPECT_EQ(figure.thinning_note(), c.note);
  }
}

// Seven points with reports: the figure shows final values, and is the
// one drawn from the last reports alone; six with reports (a seventh
// stopped before its first) keep their curves.
TEST(FigurePoints, MoreCurvesThanDrawnKeepTheLatestReportAlone) {
  const Study study =
      study_of({"--lambda", "10", "--mu", "5", "--pmut", "0.1:0.7:7", "--block-length", "1",
                "--blocks", "2", "--final", "3000", "--simulate", "2"});
  FigureCollector all(study), last(study);
  for (std::size_t n = 0; n < 7; ++n) {
    const Point& point = study.points[n];
    feed(all, point, n, 3000, true);
    last.begin_point(point, n);
    const double x = 3000 / 1e6 + static_cast<double>(n);
    const simulation::Estimate e1{x + 0.1, 0.02}, e2{x / 2 + 0.1, 0.03};
    last.take({point, ModelReport{3000, {x, x / 2}}});
    last.take({point, SimulationReport{3000, {x, 0.01}, {e1, e2}}});
  }
  for (const PointFigure& p : all.points()) {
    EXPECT_EQ(p.series.t, std::vector<double>{3000});
    EXPECT_EQ(p.series.simulated_mean_level_ci, std::vector<double>{0.01});
  }
  EXPECT_EQ(all.thinning_note(), "");
  EXPECT_EQ(plot_script(*figure_request(study, all.points())),
            plot_script(*figure_request(study, last.points())));

  FigureCollector curves(study);
  for (std::size_t n = 0; n < 7; ++n) {
    if (n == 3) {
      curves.begin_point(study.points[n], n);
      curves.take({study.points[n], Stopped{205, false, std::nullopt}});
      continue;
    }
    feed(curves, study.points[n], n, 3000, false);
  }
  EXPECT_EQ(curves.points()[6].series.t, generations({1, 3000, 2}, 3000));
  EXPECT_TRUE(figure_request(study, curves.points())->over_time);
}

}  // namespace
}  // namespace blocklevels
