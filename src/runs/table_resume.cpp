#include "runs/table_resume.hpp"

#include <cstring>
#include <optional>

#include "output/table_reader.hpp"
#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"
#include "study/study_identity.hpp"

namespace blocklevels {
std::vector<RowShape> rows_of(const Study& study, const Point& point) {
  std::vector<RowShape> rows;
  if (study.find) return rows;
  const std::int64_t reports = report_count(point.p);
  const bool model = !(study.shards_runs() && study.shard_index != 0);
  if (model) {
    for (std::int64_t r = 0; r < reports; ++r) {
      rows.push_back({Source::model, report_time(point.p, r)});
    }
    if (study.hitting) rows.push_back({Source::hitting, std::nullopt, true});
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
    if (study.hitting) {
      if (study.sharded) {
        rows.push_back({Source::simulation_hitting_counts, std::nullopt, false, true});
      } else {
        rows.push_back({Source::simulation_hitting, std::nullopt});
      }
    }
  }
  return rows;
}

namespace {

// A row's point with the searched parameter as in `point`: the rows of one
// search differ from their study point in that parameter only.
Point with_searched_of(const Point& point, Point row, const Study& study) {
  if (study.find) {
    const ParameterDescription& d = *study.find->parameter;
    set_parameter(row, d, parameter_value(point.p, d), parameter_text(point, d));
  }
  return row;
}

}  // namespace

std::vector<KeptPoint> kept_points(const Study& study, std::span<const std::size_t> mine,
                                   const std::string& path) {
  TableReader reader(path);
  const auto refuse = [&](const std::string& why) {
    throw Failure(kBadUsage,
                           "--resume: '" + path + "' line " + std::to_string(reader.line()) +
                               " is not of this study: " + why + "; it is left as it was");
  };
  if (reader.table().max_blocks() != study.table_width()) {
    throw Failure(kBadUsage, "--resume: '" + path +
                                                   "' has the columns of another study; it is "
                                                   "left as it was");
  }
  const std::optional<SimulationColumns> simulation = simulation_columns(study);
  TableRow row;
  if (study.sharded) {
    const ShardIdentity identity{study.shard_index, study.shard_count, study_fingerprint(study)};
    // A table cut back to its header holds nothing yet.
    if (!reader.next(row)) return {};
    if (row.source != Source::shard || row.shard != identity || row.simulation != simulation) {
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
  std::uint64_t from = 0, last_end = 0;
  bool ended = false;
  const auto model_source = [](Source s) {
    return s == Source::model || s == Source::hitting || s == Source::threshold;
  };
  while (reader.next(row)) {
    if (ended) refuse("a row after the shard_end row");
    if (row.source == Source::shard_end) {
      if (!study.sharded) refuse("a shard's row");
      ended = true;
      // A search's last point is whole when the shard says it has ended.
      if (open && study.find) kept.push_back({open_place, from, last_end});
      open = false;
      continue;
    }
    if (row.simulation != (model_source(row.source) ? std::nullopt : simulation)) {
      refuse("other runs or seed");
    }
    if (open && study.find) {
      // A crossing after the first, or a crossing's simulated rows.
      const Point& point = study.points[mine[open_place]];
      if (row.source != Source::model && row.t &&
          same_point(with_searched_of(point, row.point, study), point)) {
        last_end = reader.row_end();
        continue;
      }
      kept.push_back({open_place, from, last_end});
      open = false;
    }
    if (open) {
      const Point& point = study.points[mine[open_place]];
      const RowShape& shape = expected[matched];
      if (row.source == shape.source && (shape.any_t || shape.repeats || row.t == shape.t) &&
          same_point(row.point, point)) {
        if (shape.repeats && row.t) continue;
        if (++matched == expected.size()) {
          kept.push_back({open_place, from, reader.row_end()});
          open = false;
        }
        continue;
      }
      open = false;  // cut short: that point runs again
    }
    std::size_t place = next;
    while (place < mine.size() &&
           !same_point(study.points[mine[place]],
                       with_searched_of(study.points[mine[place]], row.point, study))) {
      ++place;
    }
    if (place == mine.size()) refuse("a point this study does not run here, or not there");
    next = place + 1;
    from = reader.row_start();
    if (row.source == Source::model && !row.t) {
      kept.push_back({place, from, reader.row_end()});
      continue;
    }
    open_place = place;
    if (study.find) {
      if (row.source != Source::threshold) refuse("a point's rows out of their order");
      last_end = reader.row_end();
      // A point without a crossing has its one row.
      open = row.t.has_value();
      if (!open) kept.push_back({place, from, last_end});
      continue;
    }
    expected = rows_of(study, study.points[mine[place]]);
    if (expected.empty() || row.source != expected[0].source || row.t != expected[0].t) {
      refuse("a point's rows out of their order");
    }
    matched = 1;
    open = expected.size() > 1;
    if (!open) kept.push_back({place, from, reader.row_end()});
  }
  return kept;
}

}  // namespace blocklevels
