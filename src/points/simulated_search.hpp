// Where the simulated quantity at the final generation crosses a value as
// one parameter moves: the runs' mean over a coarse grid of the range,
// then bisection of each bracket where the mean passes V, and of the
// edges of the interval where the runs' 95 % band contains V. Every value
// is simulated with the same seed and the same runs, so that neighbouring
// values share their randomness (common random numbers): the mean moves
// with the parameter, not with new noise.
#pragma once

#include <cstdint>
#include <stop_token>
#include <vector>

#include "parameters/parameter_table.hpp"
#include "search/threshold_search.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels {

// The bisection steps of each refinement: a bracket narrows to 1/64 of a
// grid cell (a real parameter; an integer's to neighbouring integers). The
// grid is simulated_grid_search's.
inline constexpr int kSimulatedRefinements = 6;

// A crossing of the runs' mean, and the interval around it in which their
// 95 % band contains V: at `lower` and `upper` the band lies wholly on one
// side of V, or they are the range's ends (the band contains V there).
struct SimulatedCrossing {
  Point point;  // the searched parameter at the estimate: the mean's crossing
  long double lower = 0, upper = 0;
  Direction direction = Direction::falling;
};

struct SimulatedThresholds {
  std::vector<SimulatedCrossing> crossings;  // in increasing order of the estimate
  std::vector<long double> grid_values;
  std::vector<simulation::Estimate> grid_quantity;
  std::int64_t values = 0;  // the parameter's values simulated, grid included
};

// The runs, their seed and threads; told after each value simulated (runs
// done of the runs planned so far).
struct SimulatedSearchRuns {
  std::int32_t runs = 0;
  std::uint64_t seed = 1;
  unsigned threads = 1;
};

class SimulatedSearchProgress {
 public:
  virtual void simulated(std::uint64_t runs_done, std::uint64_t runs_planned) = 0;

 protected:
  ~SimulatedSearchProgress() = default;
};

// Throws Stop when a simulation stops, Cancelled once `cancel` asks.
SimulatedThresholds find_simulated_thresholds(const Point& base, const ThresholdSearch& search,
                                              const SimulatedSearchRuns& runs,
                                              SimulatedSearchProgress* progress = nullptr,
                                              const std::stop_token& cancel = {});

}  // namespace blocklevels
