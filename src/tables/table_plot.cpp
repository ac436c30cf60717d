#include "tables/table_plot.hpp"

#include <set>
#include <string>
#include <vector>

#include "errors/failure.hpp"
#include "figures/plot.hpp"
#include "figures/study_figure.hpp"
#include "output/output_files.hpp"
#include "output/table_reader.hpp"
#include "parameters/parameter_table.hpp"
#include "runtime/standard_error.hpp"
#include "study/run_settings.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, "plot: " + std::move(message));
}

// The search the first row names (the parameter it moves and what it
// looks for), as the study that wrote the table had it.
void take_search(Study& study, const StudySettings& settings) {
  if (settings.search.empty()) return;
  apply_setting(study, *find_setting("find"), settings.search, Spelling::option);
  apply_setting(study, *find_setting("where"), settings.condition, Spelling::option);
  study.find->grid = settings.grid;
}

// The study's point a result belongs to: a search's crossing is the
// point with the searched parameter at the crossing; the study's has the
// range's low end there.
Point study_point(const Study& study, Point point) {
  if (study.find) {
    set_parameter(point, *study.find->parameter, study.find->low,
                  study.find_range.substr(0, study.find_range.find(':')));
  }
  return point;
}

}  // namespace

TableFigure read_table_figure(const std::string& table_name, const Study& options) {
  TableFigure figure;
  Study& study = figure.study;
  study = options;
  // The table's points in their order, each with what its results say.
  TableReader reader(table_name);
  TableEntry entry;
  while (reader.next(entry)) {
    const std::string where = "'" + table_name + "' line " + std::to_string(entry.first_line);
    const ResultValue& value = entry.result.value;
    if (entry.source == Source::shard || entry.source == Source::shard_end ||
        std::holds_alternative<ShardSums>(value) || std::holds_alternative<HittingCounts>(value)) {
      refuse(where + " is a shard's: merge the shards (blocklevels merge), then plot the table");
    }
    if (!figure.collected) {
      take_search(study, entry.settings);
      figure.collected.emplace(study);
    }
    // The simulation's runs, which its rows name (the model's leave them
    // empty).
    if (entry.settings.runs) study.simulate_runs = *entry.settings.runs;
    const Point point = study_point(study, entry.result.point);
    if (study.points.empty() || !same_point(study.points.back(), point)) {
      study.points.push_back(point);
      figure.collected->begin_point(point, study.points.size());
    }
    figure.collected->take(entry.result);
  }
  if (study.points.empty()) refuse("'" + table_name + "' holds no rows");
  // The parameters that take more than one value, in the table's order.
  for (const ParameterDescription& d : parameter_table()) {
    std::set<std::string> values;
    for (const Point& point : study.points) values.insert(parameter_text(point, d));
    if (values.size() > 1) study.swept.emplace_back(d.name);
  }
  study.max_blocks = reader.table().max_blocks();
  return figure;
}

void draw_table_figure(const TableFigure& figure, const std::string& table_name) {
  const Study& study = figure.study;
  const std::string gnuplot = find_gnuplot();
  if (gnuplot.empty()) {
    throw Failure(kOutputRefused,
                  "plot needs gnuplot, which is not installed (Debian: apt-get install "
                  "gnuplot-nox)");
  }
  const std::optional<PlotRequest> request = figure_request(study, figure.collected->points());
  if (!request) refuse("'" + table_name + "' has nothing to draw: every point stopped");
  OutputFiles files(study, table_name);
  draw_plot(gnuplot, *request, files.create_figure_draft());
  files.place_figure();
  if (const std::string note = figure.collected->thinning_note(); !note.empty()) {
    runtime::say(note);
  }
}

}  // namespace blocklevels
