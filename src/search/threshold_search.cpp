#include "search/threshold_search.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <memory>
#include <new>
#include <optional>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/prepared_model.hpp"
#include "text/number_text.hpp"

namespace blocklevels {
namespace {

// A real threshold is refined until its bracket is this narrow, relative to
// its ends.
constexpr long double kRelativeWidth = 1e-9L;

class LastTail final : public ModelSink {
 public:
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> t) override { tail.assign(t.begin(), t.end()); }
  std::vector<double> tail;
};

// The model's tail at the final generation of points that differ in the
// one parameter searched. A search of a parameter the prepared model does
// not depend on (lambda, mu, the final generation, the step) builds it
// once, or takes it from `models` when given (a study's shared ones).
class Evaluator {
 public:
  Evaluator(const Point& base, const ThresholdSearch& search, ModelSource* models,
            const std::stop_token& cancel)
      : base_(base), search_(search), models_(models), cancel_(cancel) {}

  // The point with the parameter at v: an integer rounded, a real with the
  // shortest text of its double.
  Point at(long double v) const {
    Point p = base_;
    if (search_.parameter->kind == ParameterKind::integer) {
      const auto n = static_cast<std::int32_t>(std::llroundl(v));
      set_parameter(p, *search_.parameter, n, std::to_string(n));
    } else {
      char digits[32];
      const auto written =
          std::to_chars(digits, digits + sizeof digits, static_cast<double>(v)).ptr;
      set_parameter(p, *search_.parameter, v, std::string_view(digits, written - digits));
    }
    return p;
  }

  // One report, at the final generation itself.
  std::vector<double> final_tail(const PointParameters& p) {
    ++runs_;
    if (!prepared_ || !prepared_->serves(p)) {
      prepared_.reset();  // its memory goes before the next is built
      prepared_ = models_ != nullptr ? models_->prepared(p, cancel_)
                                     : std::make_shared<const PreparedModel>(p, cancel_);
    }
    PointParameters at_final = p;
    at_final.step_generations = p.final_iteration;
    LastTail last;
    prepared_->run(at_final, last, cancel_);
    return last.tail;
  }

  // The quantity minus the value sought, at v.
  long double excess(long double v) {
    const Point p = at(v);
    return static_cast<long double>(search_.condition.quantity.of(final_tail(p.p))) -
           static_cast<long double>(search_.condition.value);
  }

  std::int64_t runs() const { return runs_; }

 private:
  const Point& base_;
  const ThresholdSearch& search_;
  ModelSource* models_;
  const std::stop_token& cancel_;
  std::shared_ptr<const PreparedModel> prepared_;
  std::int64_t runs_ = 0;
};

}  // namespace

std::vector<long double> search_grid(const ThresholdSearch& search) {
  const ExtendedArithmetic arithmetic;
  const long double low = search.low, high = search.high;
  const bool geometric = low > 0 && high / low >= 100;
  std::vector<long double> values;
  const std::int32_t n = search.grid;
  for (std::int32_t i = 0; i < n; ++i) {
    long double v = high;
    if (i < n - 1) {
      const long double share = static_cast<long double>(i) / static_cast<long double>(n - 1);
      v = geometric ? std::exp(std::log(low) + share * (std::log(high) - std::log(low)))
                    : low + share * (high - low);
    }
    if (search.parameter->kind == ParameterKind::integer) v = std::roundl(v);
    if (values.empty() || values.back() != v) values.push_back(v);
  }
  return values;
}

// The side of the value a quantity is on: reached (q >= V, an excess of 0
// included) or not. A crossing is where the side changes, so that a
// quantity equal to V over a stretch crosses only where it leaves V.
namespace {

bool reached(long double excess) {
  return excess >= 0;
}

// A crossing's value and the bracket it was refined to.
struct Refined {
  long double value, lower, upper;
  Direction direction = Direction::falling;
};

// An integer crossing between a and b (excess of opposite signs): the
// first integer past it.
Refined refine_integer(Evaluator& evaluator, long double a, long double fa, long double b) {
  while (b - a > 1) {
    const long double middle = std::floor((a + b) / 2);
    const long double fm = evaluator.excess(middle);
    if (reached(fa) != reached(fm)) {
      b = middle;
    } else {
      a = middle;
      fa = fm;
    }
  }
  return {b, a, b};
}

// A real crossing between a and b (on either side of the value): regula
// falsi with the Illinois halving of the end that stays, and a bisection
// step whenever the bracket has not halved in two steps, so that it narrows
// at least as fast as bisection's third part. An excess of 0 is on the
// reached side; the bracket narrows on to where the quantity leaves V.
// Computes in extended precision.
Refined refine_real(Evaluator& evaluator, long double a, long double fa, long double b,
                    long double fb) {
  const ExtendedArithmetic arithmetic;
  int kept_side = 0;  // -1: a stayed last time, 1: b stayed
  long double width_two_ago = b - a, width_one_ago = b - a;
  while (b - a > kRelativeWidth * std::max(std::fabs(a), std::fabs(b))) {
    long double c = b - fb * (b - a) / (fb - fa);
    if (!(c > a && c < b) || (b - a) > width_two_ago / 2) c = a + (b - a) / 2;
    if (c <= a || c >= b) break;  // no value left between them
    width_two_ago = width_one_ago;
    width_one_ago = b - a;
    const long double fc = evaluator.excess(c);
    if (reached(fa) != reached(fc)) {
      b = c;
      fb = fc;
      if (kept_side == -1) fa /= 2;
      kept_side = -1;
    } else {
      a = c;
      fa = fc;
      if (kept_side == 1) fb /= 2;
      kept_side = 1;
    }
  }
  return {a + (b - a) / 2, a, b};
}

}  // namespace

ThresholdResult find_thresholds(const Point& base, const ThresholdSearch& search,
                                ModelSource* models, const std::stop_token& cancel) {
  Evaluator evaluator(base, search, models, cancel);
  ThresholdResult result;
  result.grid_values = search_grid(search);
  std::vector<long double> excess;
  for (const long double v : result.grid_values) {
    excess.push_back(evaluator.excess(v));
    result.grid_quantity.push_back(static_cast<double>(excess.back() + search.condition.value));
  }
  const bool integer = search.parameter->kind == ParameterKind::integer;
  std::vector<Refined> found;
  for (std::size_t i = 0; i + 1 < excess.size(); ++i) {
    if (reached(excess[i]) == reached(excess[i + 1])) continue;
    const long double a = result.grid_values[i], b = result.grid_values[i + 1];
    found.push_back(integer ? refine_integer(evaluator, a, excess[i], b)
                            : refine_real(evaluator, a, excess[i], b, excess[i + 1]));
    found.back().direction = reached(excess[i]) ? Direction::falling : Direction::rising;
  }
  for (const Refined& r : found) {
    Crossing crossing;
    crossing.point = evaluator.at(r.value);
    crossing.lower = r.lower;
    crossing.upper = r.upper;
    crossing.direction = r.direction;
    if (!integer) {
      // The value its text reads back to, as the option reads it: the row
      // and a run of the same point agree.
      const ParameterDescription& d = *search.parameter;
      crossing.point.p.*d.real = parse_real_token(crossing.point.real_texts[d.text_slot]).value;
    }
    crossing.tail = evaluator.final_tail(crossing.point.p);
    result.crossings.push_back(std::move(crossing));
  }
  result.model_runs = evaluator.runs();
  return result;
}

}  // namespace blocklevels
