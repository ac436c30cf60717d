#include "results/model_check.hpp"

#include <cmath>

#include "arithmetic/extended_arithmetic.hpp"
#include "parameters/quantity.hpp"
#include "results/point_result.hpp"
#include "simulation/student_t.hpp"

namespace blocklevels {
namespace {

// The distance of one simulated mean from the model's value, in
// half-widths; `least` stands in for a half-width of 0.
double distance(double model, const simulation::Estimate& e, long double least) {
  const long double difference = std::fabs(static_cast<long double>(e.mean) - model);
  if (difference == 0) return 0;
  const long double width = e.half_width > 0 ? static_cast<long double>(e.half_width) : least;
  return static_cast<double>(difference / width);
}

}  // namespace

std::string checked_quantity(const ModelCheck& check) {
  return check.level == 0 ? "mean_level" : "X" + std::to_string(check.level);
}

std::optional<ModelCheck> check_model(const PointParameters& p, std::uint64_t runs,
                                      std::span<const ModelReport> model,
                                      std::span<const SimulationReport> simulated) {
  if (runs < 2 || p.lambda < 1) return std::nullopt;
  const ExtendedArithmetic arithmetic;
  // runs * lambda < 2^64 * 2^31 stays exact enough in extended precision.
  const long double least = simulation::student_t_975(runs - 1) /
                            (static_cast<long double>(runs) * static_cast<long double>(p.lambda));
  std::optional<ModelCheck> worst;
  const auto consider = [&](std::int64_t t, std::int32_t level, double value,
                            const simulation::Estimate& e) {
    const double d = distance(value, e, least);
    if (!(d == d)) return;  // a simulated mean of no runs
    if (worst && !(d > worst->distance)) return;
    worst = ModelCheck{d, t, level, value, e, !(e.half_width > 0) && d > 0};
  };
  std::size_t m = 0;
  for (const SimulationReport& s : simulated) {
    while (m < model.size() && model[m].t < s.t) ++m;
    if (m == model.size() || model[m].t != s.t) continue;
    const std::vector<double>& tail = model[m].tail;
    if (tail.size() != s.fractions.size()) continue;
    consider(s.t, 0, sum_in_level_order(tail), s.level);
    for (std::size_t j = 0; j < tail.size(); ++j) {
      consider(s.t, static_cast<std::int32_t>(j + 1), tail[j], s.fractions[j]);
    }
  }
  return worst;
}

}  // namespace blocklevels
