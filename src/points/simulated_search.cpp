#include "points/simulated_search.hpp"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>

#include "arithmetic/extended_arithmetic.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels {
namespace {

using simulation::Estimate;

// The runs' quantity at the final generation for every value asked, each
// value simulated once (the same runs and seed at every value).
class SimulatedQuantity {
 public:
  SimulatedQuantity(const Point& base, const ThresholdSearch& search,
                    const SimulatedSearchRuns& runs, SimulatedSearchProgress* progress,
                    const std::stop_token& cancel)
      : base_(base), search_(search), runs_(runs), progress_(progress), cancel_(cancel) {}

  const Estimate& at(long double v) {
    const auto found = seen_.find(v);
    if (found != seen_.end()) return found->second;
    PointParameters p = point_at(base_, search_, v).p;
    p.step_generations = p.final_iteration;
    const auto n = static_cast<std::uint64_t>(runs_.runs);
    const simulation::Summary s = simulation::summarize(
        simulation::simulate_runs(p, runs_.seed, {n, 0, 1}, runs_.threads, nullptr, cancel_),
        p.lambda);
    const Quantity& q = search_.condition.quantity;
    const Estimate e = q.kind == Quantity::Kind::mean_level
                           ? s.mean_level[0]
                           : s.fraction_at(0, q.level_for(p.blocks));
    if (progress_ != nullptr) progress_->simulated(n * seen_.size() + n, n * planned_);
    return seen_.emplace(v, e).first->second;
  }
  // The side of V the mean is on: reached (mean >= V) or not.
  bool reached(long double v) { return search_.condition.reached(at(v).mean); }
  // Where the 95 % band lies: wholly above V (its mean reached V), wholly
  // below (not reached), or around V.
  enum class Band { below, around, above };
  Band band(long double v) {
    const Estimate& e = at(v);
    const long double excess = static_cast<long double>(e.mean) - search_.condition.value;
    if (excess > e.half_width) return Band::above;
    return -excess > e.half_width ? Band::below : Band::around;
  }
  const std::map<long double, Estimate>& seen() const { return seen_; }
  void plan(std::int64_t more) { planned_ += static_cast<std::uint64_t>(more); }

 private:
  const Point& base_;
  const ThresholdSearch& search_;
  const SimulatedSearchRuns& runs_;
  SimulatedSearchProgress* progress_;
  const std::stop_token& cancel_;
  std::map<long double, Estimate> seen_;
  std::uint64_t planned_ = 0;
};

// A value between a and b: an integer strictly between them (none: a), the
// geometric mean on a log-spaced grid, else the arithmetic one.
long double middle(const ThresholdSearch& search, bool geometric, long double a, long double b) {
  if (search.parameter->kind == ParameterKind::integer) {
    return b - a > 1 ? std::floor(a + (b - a) / 2) : a;
  }
  return geometric ? std::sqrt(a) * std::sqrt(b) : a + (b - a) / 2;
}

// Narrows [a, b], on whose ends `side` differs, by bisection: at most
// kSimulatedRefinements steps (an integer: until they are neighbours).
template <typename Side>
std::pair<long double, long double> bisect(const ThresholdSearch& search, bool geometric,
                                           long double a, long double b, Side side) {
  const bool integer = search.parameter->kind == ParameterKind::integer;
  const bool side_a = side(a);
  for (int step = 0; integer || step < kSimulatedRefinements; ++step) {
    const long double m = middle(search, geometric, a, b);
    if (m <= a || m >= b) break;
    (side(m) == side_a ? a : b) = m;
  }
  return {a, b};
}

// The edge of the band's interval beyond `from` (towards the range's low
// end when `down`): the nearest value simulated where the band lies wholly
// on `side`, the side of V beyond that edge, refined towards `from`; the
// range's end when there is none.
long double band_edge(SimulatedQuantity& q, const ThresholdSearch& search, bool geometric,
                      long double from, bool down, long double end, SimulatedQuantity::Band side) {
  const auto& seen = q.seen();
  std::optional<long double> out;
  if (down) {
    for (auto it = seen.upper_bound(from); it != seen.begin() && !out;) {
      --it;
      if (q.band(it->first) == side) out = it->first;
    }
  } else {
    for (auto it = seen.lower_bound(from); it != seen.end() && !out; ++it) {
      if (q.band(it->first) == side) out = it->first;
    }
  }
  if (!out) return end;
  const auto at = seen.find(*out);
  const long double inner = down ? std::next(at)->first : std::prev(at)->first;
  if (q.band(inner) == side) return *out;
  const auto [a, b] = bisect(search, geometric, std::min(*out, inner), std::max(*out, inner),
                             [&](long double v) { return q.band(v) == side; });
  return down ? a : b;
}

}  // namespace

SimulatedThresholds find_simulated_thresholds(const Point& base, const ThresholdSearch& search,
                                              const SimulatedSearchRuns& runs,
                                              SimulatedSearchProgress* progress,
                                              const std::stop_token& cancel) {
  const ExtendedArithmetic arithmetic;
  SimulatedThresholds result;
  result.grid_values = search_grid(simulated_grid_search(search));
  const bool geometric = search.low > 0 && search.high / search.low >= 100;
  SimulatedQuantity q(base, search, runs, progress, cancel);
  q.plan(static_cast<std::int64_t>(result.grid_values.size()));
  for (const long double v : result.grid_values) result.grid_quantity.push_back(q.at(v));
  const std::vector<long double>& g = result.grid_values;
  for (std::size_t i = 0; i + 1 < g.size(); ++i) {
    if (q.reached(g[i]) == q.reached(g[i + 1])) continue;
    q.plan(3 * kSimulatedRefinements);
    auto [a, b] =
        bisect(search, geometric, g[i], g[i + 1], [&](long double v) { return q.reached(v); });
    const bool falling = q.reached(a);
    using Band = SimulatedQuantity::Band;
    SimulatedCrossing c;
    c.direction = falling ? Direction::falling : Direction::rising;
    // The range's ends as given (a log grid's first value is exp(log(low)),
    // which need not be low itself).
    c.lower =
        band_edge(q, search, geometric, a, true, search.low, falling ? Band::above : Band::below);
    c.upper =
        band_edge(q, search, geometric, b, false, search.high, falling ? Band::below : Band::above);
    // The mean's bracket, narrowed by the values the edges simulated in it.
    for (auto it = q.seen().upper_bound(a); it != q.seen().end() && it->first < b; ++it) {
      if (q.reached(it->first) != falling) {
        b = it->first;
        break;
      }
      a = it->first;
    }
    const bool integer = search.parameter->kind == ParameterKind::integer;
    c.point = answer_point(base, search, integer ? b : middle(search, geometric, a, b));
    // Where the runs are not monotone in the parameter the estimate may lie
    // beyond a value whose band lay wholly on one side: the interval
    // widens to hold it.
    const long double estimate = parameter_value(c.point.p, *search.parameter);
    c.lower = std::min(c.lower, estimate);
    c.upper = std::max(c.upper, estimate);
    result.crossings.push_back(std::move(c));
  }
  result.values = static_cast<std::int64_t>(q.seen().size());
  return result;
}

}  // namespace blocklevels
