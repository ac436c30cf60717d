// What a study's figure shows. Up to kMostCurves points: one curve per point
// over the generations. More: the final values against the swept parameter
// with the most values, one curve per combination of the others.
#pragma once

#include <vector>

#include "output/plot.hpp"
#include "study/study.hpp"

namespace blocklevels {

inline constexpr std::size_t kMostCurves = 6;

struct PointSeries {
  const Point* point;
  PlotSeries series;  // over the generations, unlabelled
};

PlotRequest study_figure(const Study& study, std::vector<PointSeries> points);

}  // namespace blocklevels
