#include "study/table_resume.hpp"

#include <cstring>
#include <optional>

#include "output/table_reader.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/failure.hpp"
#include "study/study_identity.hpp"

namespace blocklevels {
std::vector<RowShape> rows_of(const Study& study, const Point& point) {
  std::vector<RowShape> rows;
  const std::int64_t reports = report_count(point.p);
  const bool model = !(study.simulate_runs > 0 && study.sharded && study.shard_index != 0);
  if (model) {
    for (std::int64_t r = 0; r < reports; ++r)
      rows.push_back({Source::model, report_time(point.p, r)});
  }
  if (study.simulate_runs > 0) {
    for (std::int64_t r = 0; r < reports; ++r) {
      const std::int64_t t = report_time(point.p, r);
      if (study.sharded) {
        for (const Source s :
             {Source::simulation_runs, Source::simulation_sum, Source::simulation_sum_of_squares}) {
          rows.push_back({s, t});
        }
      } else {
        rows.push_back({Source::simulation, t});
        rows.push_back({Source::simulation_ci95, t});
      }
    }
  }
  return rows;
}

std::vector<KeptPoint> kept_points(const Study& study, std::span<const std::size_t> mine,
                                   const std::string& path) {
  TableReader reader(path);
  const auto refuse = [&](const std::string& why) {
    throw runtime::Failure(runtime::kBadUsage,
                           "--resume: '" + path + "' line " + std::to_string(reader.line()) +
                               " is not of this study: " + why + "; it is left as it was");
  };
  if (reader.table().max_blocks() != study.max_blocks) {
    throw runtime::Failure(runtime::kBadUsage, "--resume: '" + path +
                                                   "' has the columns of another study; it is "
                                                   "left as it was");
  }
  const std::optional<SimulationColumns> simulation = simulation_columns(study);
  TableRow row;
  if (study.sharded) {
    const ShardIdentity identity{study.shard_index, study.shard_count, study_fingerprint(study)};
    if (!reader.next(row) || row.source != Source::shard || row.shard != identity ||
        row.simulation != simulation) {
      refuse("not its shard row");
    }
  }
  std::vector<KeptPoint> kept;
  std::size_t next = 0;  // the first place in `mine` still free
  // The point whose rows are being read: its place, its rows, how many read.
  bool open = false;
  std::size_t open_place = 0;
  std::vector<RowShape> expected;
  std::size_t matched = 0;
  std::uint64_t from = 0;
  bool ended = false;
  while (reader.next(row)) {
    if (ended) refuse("a row after the shard_end row");
    if (row.source == Source::shard_end) {
      if (!study.sharded) refuse("a shard's row");
      ended = true;
      continue;
    }
    if (open) {
      const Point& point = study.points[mine[open_place]];
      const RowShape& shape = expected[matched];
      if (row.source == shape.source && row.t == shape.t && same_point(row.point, point) &&
          row.simulation == (row.source != Source::model ? simulation : std::nullopt)) {
        if (++matched == expected.size()) {
          kept.push_back({open_place, from, reader.row_end()});
          open = false;
        }
        continue;
      }
      open = false;  // cut short: that point runs again
    }
    std::size_t place = next;
    while (place < mine.size() && !same_point(study.points[mine[place]], row.point)) ++place;
    if (place == mine.size()) refuse("a point this study does not run here, or not there");
    next = place + 1;
    const bool simulated_row = row.source != Source::model;
    if (row.simulation != (simulated_row ? simulation : std::nullopt)) refuse("other runs or seed");
    from = reader.row_start();
    if (row.source == Source::model && !row.t) {
      kept.push_back({place, from, reader.row_end()});
      continue;
    }
    expected = rows_of(study, study.points[mine[place]]);
    if (expected.empty() || row.source != expected[0].source || row.t != expected[0].t) {
      refuse("a point's rows out of their order");
    }
    matched = 1;
    open = expected.size() > 1;
    open_place = place;
    if (!open) kept.push_back({place, from, reader.row_end()});
  }
  return kept;
}

}  // namespace blocklevels
