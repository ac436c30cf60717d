// Thresholds, checked against the model run at the ends of their brackets:
// the quantity is on either side of the value sought there, a real bracket
// at most 1e-9 of its end wide, an integer one a number and its
// predecessor; every sign change of the grid gives one crossing; and a
// crossing's tail is the model's own at that point, bit for bit. (The
// model is not continuous in pmut: at some points it jumps back and forth
// within 1e-10, so only the bracket's ends say where it crossed.)
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "model/model_run.hpp"
#include "parameters/parameter_table.hpp"
#include "points/simulated_search.hpp"
#include "search/threshold_search.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels {
namespace {

class LastTail final : public ModelSink {
 public:
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override {
    last.assign(tail.begin(), tail.end());
  }
  std::vector<double> last;
};

std::vector<double> final_tail(const Point& point) {
  LastTail sink;
  run_model(point.p, sink);
  return sink.last;
}

Point point_of(std::int32_t lambda, std::int32_t mu, const std::string& pmut, std::int32_t b,
               std::int32_t acc, std::int32_t l, std::int32_t final) {
  Point point;
  const std::string texts[] = {
      std::to_string(lambda), std::to_string(mu),    pmut, std::to_string(b), std::to_string(acc),
      std::to_string(l),      std::to_string(final), "1"};
  for (const ParameterDescription& d : parameter_table()) {
    const std::string_view name = d.name;
    const char* names[] = {"lambda",     "mu",     "pmut",  "block_length",
                           "two_option", "blocks", "final", "step"};
    for (std::size_t n = 0; n < 8; ++n) {
      if (name != names[n]) continue;
      set_parameter(point, d, std::strtold(texts[n].c_str(), nullptr), texts[n]);
    }
  }
  return point;
}

// The quantity minus the value at the point with the parameter at v.
long double excess(const Point& base, const ThresholdSearch& search, long double v,
                   const std::string& text) {
  Point p = base;
  set_parameter(p, *search.parameter, v, text);
  return static_cast<long double>(search.condition.quantity.of(final_tail(p))) -
         static_cast<long double>(search.condition.value);
}

// One end reaches the value (an excess of 0 included), the other not.
bool on_both_sides(long double a, long double b) {
  return (a >= 0) != (b >= 0);
}

struct Case {
  Point point;
  ThresholdSearch search;
  std::string describe() const {
    return describe_point(point) + " find " + std::string(search.parameter->name) + " in [" +
           std::to_string(static_cast<double>(search.low)) + ", " +
           std::to_string(static_cast<double>(search.high)) + "] where " +
           search.condition.quantity.name() + "=" + search.condition.value_text;
  }
};

Condition condition(std::mt19937_64& random, std::int32_t l) {
  Condition c;
  std::uniform_real_distribution<double> share(0.05, 0.95);
  switch (random() % 3) {
    case 0:
      c.quantity.kind = Quantity::Kind::top;
      break;
    case 1:
      c.quantity.kind = Quantity::Kind::level;
      c.quantity.level = static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(l)) + 1;
      break;
    default:
      c.quantity.kind = Quantity::Kind::mean_level;
  }
  const double v = share(random) * (c.quantity.kind == Quantity::Kind::mean_level ? l : 1);
  c.value = v;
  c.value_text = std::to_string(v);
  return c;
}

std::vector<Case> random_cases(bool integer) {
  std::mt19937_64 random(integer ? 23 : 17);
  std::vector<Case> cases;
  while (cases.size() < 24) {
    const auto pick = [&](std::int32_t low, std::int32_t high) {
      return low + static_cast<std::int32_t>(random() % static_cast<std::uint64_t>(high - low + 1));
    };
    const std::int32_t l = pick(1, 20), b = pick(1, 4), acc = pick(0, b - 1);
    const std::int32_t mu = pick(1, 8), lambda = pick(mu, 60);
    Case c{point_of(lambda, mu, "0.05", b, acc, l, pick(3, 120)), {}};
    c.search.condition = condition(random, l);
    c.search.grid = pick(2, 20);
    if (integer) {
      // mu over 1..lambda, lambda over mu..200, or the final generation
      // over 1..300 (read from one run).
      const auto which = random() % 3;
      const bool of_mu = which == 0;
      c.search.parameter = find_parameter(which == 2 ? "final" : of_mu ? "mu" : "lambda");
      c.search.low = which == 2 ? 1 : of_mu ? 1 : mu;
      c.search.high = which == 2 ? 300 : of_mu ? lambda : 200;
      if (c.search.low >= c.search.high) continue;
    } else {
      c.search.parameter = find_parameter("pmut");
      c.search.low = 1e-4L;
      c.search.high = random() % 2 == 0 ? 0.5L : 0.02L;
    }
    cases.push_back(c);
  }
  return cases;
}

void check(const Case& c, bool integer, int& crossings) {
  SCOPED_TRACE(c.describe());
  const ThresholdResult result = find_thresholds(c.point, c.search);
  // On three threads the grid gives the same answer, bit for bit.
  const ThresholdResult threaded = find_thresholds(c.point, c.search, 3);
  ASSERT_EQ(threaded.grid_quantity.size(), result.grid_quantity.size());
  EXPECT_EQ(std::memcmp(threaded.grid_quantity.data(), result.grid_quantity.data(),
                        result.grid_quantity.size() * sizeof(double)),
            0);
  ASSERT_EQ(threaded.crossings.size(), result.crossings.size());
  for (std::size_t n = 0; n < result.crossings.size(); ++n) {
    EXPECT_EQ(threaded.crossings[n].lower, result.crossings[n].lower);
    EXPECT_EQ(threaded.crossings[n].upper, result.crossings[n].upper);
  }
  EXPECT_EQ(threaded.model_runs, result.model_runs);
  // Every pair of neighbouring grid values on either side of the value
  // (reached: q >= V) is one crossing; an exact hit is on the reached side.
  std::size_t expected = 0;
  const auto& q = result.grid_quantity;
  for (std::size_t i = 0; i + 1 < q.size(); ++i) {
    if ((q[i] >= c.search.condition.value) != (q[i + 1] >= c.search.condition.value)) ++expected;
  }
  ASSERT_EQ(result.crossings.size(), expected);
  long double before = -1;
  const ParameterDescription& d = *c.search.parameter;
  for (const Crossing& crossing : result.crossings) {
    ++crossings;
    const long double v = parameter_value(crossing.point.p, d);
    EXPECT_GT(v, before);
    before = v;
    EXPECT_GE(v, c.search.low);
    EXPECT_LE(v, c.search.high);
    const std::vector<double> tail = final_tail(crossing.point);
    ASSERT_EQ(tail.size(), crossing.tail.size());
    EXPECT_EQ(std::memcmp(tail.data(), crossing.tail.data(), tail.size() * sizeof(double)), 0);
    // The bracket: the quantity on either side at its ends, and narrow.
    // A real value is the bracket's middle as a double: a bracket narrower
    // than a double's unit in the last place may leave it just outside.
    const long double ulp = integer ? 0 : std::nextafter(static_cast<double>(v), 1.0) - v;
    EXPECT_LE(crossing.lower, v + ulp);
    EXPECT_GE(crossing.upper, v - ulp);
    const long double lower = excess(c.point, c.search, crossing.lower, "");
    const long double upper = excess(c.point, c.search, crossing.upper, "");
    EXPECT_TRUE(on_both_sides(lower, upper))
        << static_cast<double>(v) << ": " << static_cast<double>(lower) << " "
        << static_cast<double>(upper);
    if (integer) {
      EXPECT_EQ(crossing.upper, v);
      EXPECT_TRUE(crossing.lower == v || crossing.lower == v - 1);
    } else {
      EXPECT_LE(crossing.upper - crossing.lower, 1e-9L * crossing.upper);
      // The value as its text reads back.
      EXPECT_EQ(v, std::strtold(parameter_text(crossing.point, d).c_str(), nullptr));
    }
  }
}

TEST(Thresholds, RealOnesAreBracketedByTheModelWithinTheirWidth) {
  int crossings = 0;
  for (const Case& c : random_cases(false)) check(c, false, crossings);
  // The cases must cross at all for the test to say anything.
  EXPECT_GE(crossings, 8);
}

TEST(Thresholds, IntegerOnesFollowTheirPredecessorExactly) {
  int crossings = 0;
  for (const Case& c : random_cases(true)) check(c, true, crossings);
  EXPECT_GE(crossings, 5);
}

// The grid: log-spaced from two decades on, even below, an integer
// parameter's values rounded with repeats once; a grid value where the
// quantity is the value exactly is a crossing of its own.
TEST(Thresholds, TheGridAndItsExactHits) {
  const struct {
    const char* parameter;
    long double low, high;
    std::int32_t grid;
    std::vector<long double> values;
  } cases[] = {
      {"pmut", 1e-3L, 1e-1L, 3, {1e-3L, 1e-2L, 1e-1L}},
      {"pmut", 0.01L, 0.99L, 3, {0.01L, 0.5L, 0.99L}},
      {"mu", 1, 10, 4, {1, 4, 7, 10}},
      {"mu", 1, 3, 5, {1, 2, 3}},
  };
  for (const auto& c : cases) {
    Case search{point_of(20, 5, "0.1", 2, 0, 3, 5), {}};
    search.search.parameter = find_parameter(c.parameter);
    search.search.low = c.low;
    search.search.high = c.high;
    search.search.grid = c.grid;
    search.search.condition = *parse_condition("Xtop=0.5");
    search.search.condition.value = 0.5;
    const ThresholdResult result = find_thresholds(search.point, search.search);
    ASSERT_EQ(result.grid_values.size(), c.values.size()) << search.describe();
    for (std::size_t k = 0; k < c.values.size(); ++k) {
      EXPECT_NEAR(static_cast<double>(result.grid_values[k] / c.values[k]), 1.0, 1e-15)
          << search.describe() << " value " << k;
    }
  }
  // Without mutation no offspring reaches the top: Xtop is exactly 0 at
  // pmut 0 and above it beyond. Xtop=0 is reached everywhere: no crossing,
  // the grid value where Xtop equals 0 is not one by itself.
  Case zero{point_of(20, 5, "0", 2, 0, 3, 5), {}};
  zero.search.parameter = find_parameter("pmut");
  zero.search.low = 0;
  zero.search.high = 0.5L;
  zero.search.grid = 5;
  zero.search.condition = *parse_condition("Xtop=0");
  zero.search.condition.value = 0;
  EXPECT_TRUE(find_thresholds(zero.point, zero.search).crossings.empty());
  // Xtop=1e-300 is not reached at pmut 0 and is beyond: one rising crossing
  // where Xtop leaves 0.
  zero.search.condition = *parse_condition("Xtop=1e-300");
  zero.search.condition.value = 1e-300;
  const ThresholdResult result = find_thresholds(zero.point, zero.search);
  ASSERT_EQ(result.crossings.size(), 1u);
  EXPECT_EQ(result.crossings[0].direction, Direction::rising);
  EXPECT_TRUE(on_both_sides(excess(zero.point, zero.search, result.crossings[0].lower, ""),
                            excess(zero.point, zero.search, result.crossings[0].upper, "")));
}

// Xtop at t=300 rises and falls again over pmut for mu=70 of 100: two
// crossings, each found and refined.
TEST(Thresholds, ANonMonotoneQuantityHasEveryCrossing) {
  Case c{point_of(100, 70, "0.0001", 4, 0, 30, 300), {}};
  c.search.parameter = find_parameter("pmut");
  c.search.low = 1e-4L;
  c.search.high = 0.1L;
  c.search.condition.quantity.kind = Quantity::Kind::top;
  c.search.condition.value = 0.1;
  c.search.condition.value_text = "0.1";
  int crossings = 0;
  check(c, false, crossings);
  EXPECT_EQ(crossings, 2);
}

// The runs' quantity at the final generation of `point` with the searched
// parameter at v: `runs` runs from `seed`.
simulation::Estimate simulated(const Point& base, const ThresholdSearch& search, long double v,
                               std::int32_t runs, std::uint64_t seed) {
  PointParameters p = point_at(base, search, v).p;
  p.step_generations = p.final_iteration;
  const auto n = static_cast<std::uint64_t>(runs);
  const simulation::Summary s =
      simulation::summarize(simulation::simulate_runs(p, seed, {n, 0, 1}, 1), p.lambda);
  const Quantity& q = search.condition.quantity;
  return q.kind == Quantity::Kind::mean_level ? s.mean_level[0]
                                              : s.fraction_at(0, q.level_for(p.blocks));
}

bool band_excludes(const simulation::Estimate& e, double v) {
  return std::fabs(static_cast<long double>(e.mean) - v) > e.half_width;
}

// The simulated search's answers, checked against runs of their own: the
// estimate inside its interval; at each end that is not the range's, the
// search's own runs (same seed) with their band on the side of V that
// direction puts there, and 200 other runs (another seed) with their mean
// on that side too; the model's crossing (blocks of one position: the
// infinite population's limit) inside the falling crossing's interval;
// an interval that reaches the range's end with the band containing V
// there; threads change
// nothing; an integer parameter's answers integers; no crossing, none.
TEST(SimulatedSearch, IntervalsHoldTheCrossingAndOtherRunsAgree) {
  const struct {
    Point point;
    const char* parameter;
    long double low, high;
    const char* where;
    std::size_t crossings;
    bool model_inside;
  } kCases[] = {
      {point_of(100, 10, "0.1", 1, 0, 5, 50), "pmut", 0.05L, 0.2L, "Xtop=0.5", 1, true},
      // Rising at the range's low end too (fewer mutations reach level 4
      // later), where the model does not cross.
      {point_of(100, 10, "0.1", 1, 0, 5, 50), "pmut", 0.001L, 0.3L, "X4=0.9", 2, true},
      {point_of(100, 10, "0.12", 1, 0, 5, 50), "mu", 2, 60, "mean_level=4", 1, false},
      {point_of(100, 10, "0.1", 1, 0, 5, 50), "pmut", 0.3L, 0.5L, "Xtop=0.5", 0, false},
  };
  const std::int32_t runs = 20;
  for (const auto& c : kCases) {
    ThresholdSearch search;
    search.parameter = find_parameter(c.parameter);
    search.low = c.low;
    search.high = c.high;
    search.condition = *parse_condition(c.where);
    search.condition.value = std::stod(search.condition.value_text);
    const std::string what = describe_point(c.point) + " " + c.parameter + " " + c.where;
    const SimulatedThresholds found = find_simulated_thresholds(c.point, search, {runs, 3, 1});
    EXPECT_EQ(found.grid_values.size(), 16u) << what;
    ASSERT_EQ(found.crossings.size(), c.crossings) << what;
    const SimulatedThresholds threaded = find_simulated_thresholds(c.point, search, {runs, 3, 2});
    ASSERT_EQ(threaded.crossings.size(), c.crossings) << what;
    for (std::size_t k = 0; k < found.crossings.size(); ++k) {
      const SimulatedCrossing& x = found.crossings[k];
      EXPECT_EQ(x.point.real_texts, threaded.crossings[k].point.real_texts) << what;
      EXPECT_EQ(x.lower, threaded.crossings[k].lower) << what;
      const long double estimate = parameter_value(x.point.p, *search.parameter);
      EXPECT_LE(x.lower, estimate) << what;
      EXPECT_LE(estimate, x.upper) << what;
      const double v = search.condition.value;
      // Falling: reached below the crossing, not above.
      const bool reached_below = x.direction == Direction::falling;
      for (const auto& [end, below] : {std::pair(x.lower, true), std::pair(x.upper, false)}) {
        const simulation::Estimate own = simulated(c.point, search, end, runs, 3);
        if (end == c.low || end == c.high) {
          // The band contains V up to the range's end.
          EXPECT_FALSE(band_excludes(own, v)) << what << " at " << static_cast<double>(end);
          continue;
        }
        EXPECT_TRUE(band_excludes(own, v)) << what << " at " << static_cast<double>(end);
        EXPECT_EQ(own.mean >= v, below == reached_below) << what << " at " << (double)end;
        const simulation::Estimate other = simulated(c.point, search, end, 200, 99);
        EXPECT_EQ(other.mean >= v, below == reached_below) << what << " at " << (double)end;
      }
      if (search.parameter->kind == ParameterKind::integer) {
        EXPECT_EQ(x.lower, std::floor(x.lower)) << what;
        EXPECT_EQ(x.point.real_texts, c.point.real_texts) << what;
      }
      if (!c.model_inside || x.direction == Direction::rising) continue;
      const ThresholdResult model = find_thresholds(c.point, search);
      ASSERT_EQ(model.crossings.size(), 1u) << what;
      const long double m = parameter_value(model.crossings[0].point.p, *search.parameter);
      EXPECT_TRUE(x.lower <= m && m <= x.upper)
          << what << ": model " << static_cast<double>(m) << " outside ["
          << static_cast<double>(x.lower) << ", " << static_cast<double>(x.upper) << "]";
    }
  }
}

}  // namespace
}  // namespace blocklevels
