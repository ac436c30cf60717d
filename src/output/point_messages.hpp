// What a study says on standard error of its points as they are written: a
// point that stopped (a sweep's by its parameters, a single run's as the
// dialogue's process would say it, with the place of the stop), and a
// search that found no crossing (the model's or the simulation's), a
// model check beyond kModelCheckWarning half-widths, and a model's crossing
// outside every simulated crossing's interval (same direction). Warnings are said whatever --quiet:
// it is for standard output. The first stop's status is the study's exit status.
#pragma once

#include <string>
#include <vector>

#include "output/progress.hpp"
#include "parameters/parameter_table.hpp"
#include "parameters/quantity.hpp"
#include "results/point_result.hpp"
#include "search/threshold_search.hpp"

namespace blocklevels {

class PointMessages final : public ResultSink {
 public:
  // `search` and `range` ("LOW:HIGH", as given) describe a search, nullptr
  // and "" without one.
  PointMessages(Progress& progress, bool sweep, const ThresholdSearch* search, std::string range);

  void begin_point(const Point& point, std::size_t number) override;
  void take(const Result& result) override;
  void end_point() override;

  // 0, or the status of the first point that stopped.
  int first_failure() const { return first_failure_; }

 private:
  Progress& progress_;
  bool sweep_;
  const ThresholdSearch* search_;
  std::string range_;
  void say_not_crossed(const std::string& what, const std::string& grid);

  Point point_;
  int first_failure_ = 0;
  // The point's model crossings and simulated intervals, by direction.
  struct Answer {
    long double value, lower, upper;
    Direction direction;
  };
  std::vector<Answer> model_, simulated_;
  bool simulated_search_ = false;
};

}  // namespace blocklevels
