// Where a point's quantity at the final report crosses a value, as one of
// its parameters moves over a range: a grid first, then bisection on each
// bracket the grid finds. The model need not be monotone: every crossing
// between neighbouring grid values is found and refined.
#pragma once

#include <cstdint>
#include <stop_token>
#include <string>
#include <vector>

#include "model/prepared_model.hpp"
#include "parameters/parameter_table.hpp"
#include "parameters/quantity.hpp"

namespace blocklevels {

struct ThresholdSearch {
  const ParameterDescription* parameter = nullptr;  // the one that moves
  long double low = 0.0L, high = 0.0L;              // low < high, both valid values
  Condition condition;
  std::int32_t grid = 64;  // grid values, both ends included; at least 2
};

// A crossing: the parameter's value (for a real, refined to a relative
// width of 1e-9 and written as the shortest text that reads back to the
// same double; for an integer, the first integer past the crossing, its
// predecessor on the other side) and the model's tail vector there at the
// final report.
// The bracket it was refined to: the quantity is on one side of the value
// at `lower` and on the other at `upper` (or equals it where they meet).
// The model need not be continuous: where it jumps, the bracket holds the
// jump and the value is inside it.
// How the quantity crosses the value as the searched parameter grows.
enum class Direction { falling, rising };

struct Crossing {
  Point point;  // the searched point with the parameter at the crossing
  std::vector<double> tail;
  long double lower = 0, upper = 0;
  Direction direction = Direction::falling;
};

struct ThresholdResult {
  std::vector<Crossing> crossings;  // in increasing order of the parameter
  // The grid: the parameter's values and the quantity at the final report.
  std::vector<long double> grid_values;
  std::vector<double> grid_quantity;
  std::int64_t model_runs = 0;  // every evaluation of the model, grid included
};

// The point with the searched parameter at v, as the search evaluates it:
// an integer rounded, a real at v itself with the shortest text of its
// double.
Point point_at(const Point& base, const ThresholdSearch& search, long double v);

// The point of an answer at v: as point_at, but a real at the value its
// text reads back to, as the option reads it, so that the row and a run of
// the same point agree.
Point answer_point(const Point& base, const ThresholdSearch& search, long double v);

// The values the search scans first: log-spaced when low > 0 and high / low
// >= 100, else even; an integer parameter's values rounded, repeats kept
// once.
std::vector<long double> search_grid(const ThresholdSearch& search);

// A simulated search's grid (points/simulated_search.hpp): the same range
// and spacing with at most kSimulatedGrid values, since each value costs
// the simulated runs.
inline constexpr std::int32_t kSimulatedGrid = 16;
ThresholdSearch simulated_grid_search(const ThresholdSearch& search);

// What a search that found no crossing checked, in words: "no sign change
// on a grid of 64 log-spaced values; crossings closer together than a
// factor of 1.12 can be missed" (even grids: "than 0.0159"; an integer
// grid of every value: "every value checked").
std::string grid_checked(const ThresholdSearch& search);

// The quantity is taken at the final generation (not the last report).
// Each pair of neighbouring grid values on either side of the value (the
// quantity reaching it, q >= V, or not) is one crossing, refined on its
// bracket: a quantity equal to V over a stretch crosses where it leaves V,
// never at each grid value where it equals V. Throws Stop when the model
// stops at any value evaluated, Cancelled at the next matrix row or
// generation once `cancel` asks for a stop. The prepared models come from
// `models` when given (shared with other points), else are built here;
// either way the values are the same, bit for bit. The grid's values are
// evaluated on up to `threads` threads; the result, and the Stop thrown
// when a grid value stops (the one of the lowest such value), are those of
// one thread.
ThresholdResult find_thresholds(const Point& base, const ThresholdSearch& search,
                                unsigned threads = 1, ModelSource* models = nullptr,
                                const std::stop_token& cancel = {});

}  // namespace blocklevels
