// What a study keeps of a point's rows as they are written (or read back
// from a table): the series its figure draws, and what its summary line
// says. The same rows give the same figure whether they were computed or
// read from a table written before.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "output/csv_table.hpp"
#include "figures/plot.hpp"
#include "parameters/quantity.hpp"

namespace blocklevels {

struct PointRows {
  // The last model row and the last simulated level.
  std::optional<TableRow> last_model;
  std::optional<double> simulated_level, simulated_level_ci;
  PlotSeries series;  // kept only when a figure is drawn
  // A search's crossings, each with its simulated quantity and half-width
  // when simulated; its grid (only from its records: not in the table).
  struct Found {
    TableRow row;
    std::optional<double> simulated, simulated_ci;
  };
  std::vector<Found> found;
  bool searched = false;
  std::vector<long double> grid_values;
  std::vector<double> grid_quantity;
  // --hitting: the model's hitting time (empty: never), and the runs'.
  std::optional<std::optional<std::int64_t>> hitting;
  std::optional<TableRow> simulated_hitting;

  // Takes the point's next row. `searched` is a search's quantity, whose
  // simulated value at a crossing is kept; `plot` keeps the series.
  void take(const TableRow& row, const Quantity* searched, bool plot);
};

}  // namespace blocklevels
