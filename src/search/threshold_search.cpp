#include "search/threshold_search.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <exception>
#include <memory>
#include <new>
#include <optional>
#include <thread>

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

  Point at(long double v) const { return point_at(base_, search_, v); }

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
    const double q =
        by_generation() ? quantity_at(p.p) : search_.condition.quantity.of(final_tail(p.p));
    return static_cast<long double>(q) - static_cast<long double>(search_.condition.value);
  }

  // Whether the quantity is read from one run through the search's last
  // generation: a search of the final generation whose every generation's
  // quantity fits in kGenerationsRemembered doubles. A generation's values
  // do not depend on how far the run goes or what it reports, so the
  // quantity at t is that of a run to t, bit for bit.
  bool by_generation() const {
    return search_.parameter->integer == &PointParameters::final_iteration &&
           search_.high <= static_cast<long double>(kGenerationsRemembered);
  }

  std::int64_t runs() const { return runs_; }

 private:
  static constexpr std::int64_t kGenerationsRemembered = std::int64_t{1} << 22;  // 32 MiB

  // Every generation's quantity reported by a sink, from generation 1.
  class Quantities final : public ModelSink {
   public:
    explicit Quantities(const Quantity& quantity) : quantity_(quantity) {}
    void start(std::int64_t) override {}
    void report(std::int64_t, std::span<const double> tail) override {
      values.push_back(quantity_.of(tail));
    }
    std::vector<double> values;

   private:
    const Quantity& quantity_;
  };

  // The quantity at p's final generation, from the one run through the
  // search's last generation, made at the first call.
  double quantity_at(const PointParameters& p) {
    if (by_t_.empty()) {
      ++runs_;
      PointParameters through = p;
      through.final_iteration = static_cast<std::int32_t>(search_.high);
      through.step_generations = 1;
      if (!prepared_ || !prepared_->serves(through)) {
        prepared_.reset();
        prepared_ = models_ != nullptr ? models_->prepared(through, cancel_)
                                       : std::make_shared<const PreparedModel>(through, cancel_);
      }
      Quantities quantities(search_.condition.quantity);
      prepared_->run(through, quantities, cancel_);
      by_t_ = std::move(quantities.values);
    }
    return by_t_.at(static_cast<std::size_t>(p.final_iteration - 1));
  }

  const Point& base_;
  const ThresholdSearch& search_;
  ModelSource* models_;
  const std::stop_token& cancel_;
  std::shared_ptr<const PreparedModel> prepared_;
  std::int64_t runs_ = 0;
  std::vector<double> by_t_;  // by_generation(): the quantity at t = 1, 2, ...
};

}  // namespace

Point point_at(const Point& base, const ThresholdSearch& search, long double v) {
  Point p = base;
  if (search.parameter->kind == ParameterKind::integer) {
    const auto n = static_cast<std::int32_t>(std::llroundl(v));
    set_parameter(p, *search.parameter, n, std::to_string(n));
  } else {
    char digits[32];
    const auto written = std::to_chars(digits, digits + sizeof digits, static_cast<double>(v)).ptr;
    set_parameter(p, *search.parameter, v, std::string_view(digits, written - digits));
  }
  return p;
}

Point answer_point(const Point& base, const ThresholdSearch& search, long double v) {
  Point p = point_at(base, search, v);
  if (search.parameter->kind != ParameterKind::integer) {
    const ParameterDescription& d = *search.parameter;
    p.p.*d.real = parse_real_token(p.real_texts[d.text_slot]).value;
  }
  return p;
}

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

ThresholdSearch simulated_grid_search(const ThresholdSearch& search) {
  ThresholdSearch coarse = search;
  coarse.grid = std::min(search.grid, kSimulatedGrid);
  return coarse;
}

std::string grid_checked(const ThresholdSearch& search) {
  const ExtendedArithmetic arithmetic;
  const std::vector<long double> values = search_grid(search);
  const bool geometric = search.low > 0 && search.high / search.low >= 100;
  long double widest = 0;  // the widest step: a difference, or a ratio on a log grid
  for (std::size_t i = 0; i + 1 < values.size(); ++i) {
    widest = std::max(widest, geometric ? values[i + 1] / values[i] : values[i + 1] - values[i]);
  }
  const std::string grid = "no sign change on a grid of " + std::to_string(values.size()) +
                           (geometric ? " log-spaced" : " evenly spaced") + " values";
  if (search.parameter->kind == ParameterKind::integer && !geometric && widest <= 1) {
    return grid + ", every value checked";
  }
  char width[32];
  std::snprintf(width, sizeof width, "%.3Lg", widest);
  return grid + "; crossings closer together than " + (geometric ? "a factor of " : "") + width +
         " can be missed";
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

namespace {

// The excess at every grid value, value i on thread i mod `threads`. Each
// value's excess is the same whichever thread computes it (a model run
// depends on its parameters alone), so only the order of the stops needs
// care: the lowest value's is thrown, as one thread would throw it.
std::vector<long double> grid_excess(Evaluator& evaluator, const Point& base,
                                     const ThresholdSearch& search,
                                     const std::vector<long double>& values, unsigned threads,
                                     ModelSource* models, const std::stop_token& cancel,
                                     std::int64_t& runs) {
  const std::size_t n = values.size();
  // A search of the final generation reads one run: one thread.
  const std::size_t count = evaluator.by_generation()
                                ? 1
                                : std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(n, 1));
  std::vector<long double> excess(n);
  std::vector<std::exception_ptr> failed(n);
  std::vector<std::int64_t> thread_runs(count);
  // Thread 0 is the caller's, with the caller's evaluator (whose runs the
  // caller counts); the others have their own.
  const auto work = [&](std::size_t first) {
    const ExtendedArithmetic arithmetic;
    std::optional<Evaluator> own;
    if (first != 0) own.emplace(base, search, models, cancel);
    Evaluator& e = first == 0 ? evaluator : *own;
    for (std::size_t i = first; i < n; i += count) {
      try {
        excess[i] = e.excess(values[i]);
      } catch (...) {
        failed[i] = std::current_exception();
        break;  // later values of this thread are not needed: an earlier one stopped
      }
    }
    if (first != 0) thread_runs[first] = e.runs();
  };
  if (count == 1) {
    work(0);
  } else {
    std::vector<std::jthread> pool;
    for (std::size_t t = 1; t < count; ++t) pool.emplace_back(work, t);
    work(0);
  }
  for (const std::exception_ptr& f : failed) {
    if (f) std::rethrow_exception(f);
  }
  for (const std::int64_t r : thread_runs) runs += r;
  return excess;
}

}  // namespace

ThresholdResult find_thresholds(const Point& base, const ThresholdSearch& search, unsigned threads,
                                ModelSource* models, const std::stop_token& cancel) {
  Evaluator evaluator(base, search, models, cancel);
  ThresholdResult result;
  result.grid_values = search_grid(search);
  std::int64_t grid_runs = 0;
  const std::vector<long double> excess =
      grid_excess(evaluator, base, search, result.grid_values, threads, models, cancel, grid_runs);
  for (const long double e : excess) {
    result.grid_quantity.push_back(static_cast<double>(e + search.condition.value));
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
    crossing.point = answer_point(base, search, r.value);
    crossing.lower = r.lower;
    crossing.upper = r.upper;
    crossing.direction = r.direction;
    crossing.tail = evaluator.final_tail(crossing.point.p);
    result.crossings.push_back(std::move(crossing));
  }
  result.model_runs = grid_runs + evaluator.runs();
  return result;
}

}  // namespace blocklevels
