// The summary line of each point of a sweep, a search or a hitting time on
// standard output, made from the point's results as they pass:
//   lambda=... step=5 model=level arithmetic=accurate t=200 mean_level=... X20=... X19=... X18=...
// then what was simulated (simulated_mean_level=M+-H), the model check
// (model_vs_simulation=D at_t=T quantity=Q, and equal_runs=yes when every
// run gave the same value there: results/model_check.hpp), the hitting times
// (hitting_t=N or never, simulated_hitting_t=M+-H never=N); a search's
// line says its crossings (pmut=V, simulated_Xtop=M+-H) or pmut=none; a
// point that stopped says status=N. Half-widths are given to two
// significant digits: more would claim a precision the interval does not
// have (the table keeps every digit).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "output/progress.hpp"
#include "parameters/parameter_table.hpp"
#include "parameters/quantity.hpp"
#include "results/point_result.hpp"
#include "runtime/text_stream.hpp"

namespace blocklevels {

class SummaryLines final : public ResultSink {
 public:
  // `searched` and `where` describe a search, nullptr without one.
  SummaryLines(runtime::OutputStream& out, Progress& progress, const ParameterDescription* searched,
               const Condition* where);

  void begin_point(const Point& point, std::size_t number) override;
  void take(const Result& result) override;
  void end_point() override;

 private:
  struct Found {
    std::string value;
    std::optional<simulation::Estimate> simulated;
  };
  runtime::OutputStream& out_;
  Progress& progress_;
  const ParameterDescription* searched_;
  const Condition* where_;
  // The point's results so far.
  Point point_;
  std::optional<ModelReport> last_model_;
  std::optional<simulation::Estimate> simulated_level_;
  std::optional<ModelCheck> check_;
  std::optional<std::optional<std::int64_t>> hitting_;
  std::optional<simulation::HittingSummary> simulated_hitting_;
  std::vector<Found> found_;
  bool searched_none_ = false;
  // The simulated search's crossings: " simulated_pmut=LOW..HIGH" each, or
  // "=none"; the runs at their estimates are not summarised.
  std::string simulated_found_;
  bool in_simulated_ = false;
  int status_ = 0;
};

}  // namespace blocklevels
