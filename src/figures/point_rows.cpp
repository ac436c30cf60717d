#include "figures/point_rows.hpp"

namespace blocklevels {

void PointRows::take(const TableRow& row, const Quantity* searched_quantity, bool plot) {
  const std::int32_t l = row.point.p.blocks;
  PlotSeries& s = series;
  auto top = [&](std::vector<double>(&to)[3]) {
    for (std::int32_t n = 0; n < 3; ++n) {
      to[n].push_back(n < l ? row.values[static_cast<std::size_t>(l - n)] : 0.0);
    }
  };
  switch (row.source) {
    case Source::model:
      if (!row.t) return;
      if (plot) {
        s.t.push_back(static_cast<double>(*row.t));
        s.mean_level.push_back(row.values[0]);
        top(s.top);
      }
      last_model = row;
      return;
    case Source::threshold:
      searched = true;
      if (row.t) found.push_back({row, std::nullopt, std::nullopt});
      return;
    case Source::hitting:
      hitting = row.t;
      return;
    case Source::simulation_hitting:
      simulated_hitting = row;
      return;
    case Source::simulation:
      if (!found.empty() && searched_quantity != nullptr) {
        found.back().simulated = searched_quantity->of_row(row.values, l);
        return;
      }
      if (plot) {
        s.simulated_t.push_back(static_cast<double>(*row.t));
        s.simulated_mean_level.push_back(row.values[0]);
        top(s.simulated_top);
      }
      simulated_level = row.values[0];
      return;
    case Source::simulation_ci95:
      if (!found.empty() && searched_quantity != nullptr) {
        found.back().simulated_ci = searched_quantity->of_row(row.values, l);
        return;
      }
      if (plot) {
        s.simulated_mean_level_ci.push_back(row.values[0]);
        top(s.simulated_top_ci);
      }
      simulated_level_ci = row.values[0];
      return;
    default:
      return;
  }
}

}  // namespace blocklevels
