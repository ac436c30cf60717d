#include "tables/table_plot.hpp"

#include <set>
#include <string>
#include <vector>

#include "figures/plot.hpp"
#include "output/table_reader.hpp"
#include "parameters/parameter_table.hpp"
#include "errors/failure.hpp"
#include "output/output_files.hpp"
#include "figures/figure_points.hpp"
#include "figures/study_figure.hpp"

namespace blocklevels {
namespace {

[[noreturn]] void refuse(std::string message) {
  throw Failure(kBadUsage, "plot: " + std::move(message));
}

}  // namespace

TableFigure read_table_figure(const std::string& table_name) {
  TableFigure figure;
  Study& study = figure.study;
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
    if (std::holds_alternative<Threshold>(value)) {
      refuse(where +
             " is a search's threshold: its figure is drawn by the search itself "
             "(--find ... --plot), which holds its grid");
    }
    if (study.points.empty() || !same_point(study.points.back(), entry.result.point)) {
      study.points.push_back(entry.result.point);
      figure.collected.begin_point(entry.result.point, study.points.size());
    }
    figure.collected.take(entry.result);
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
  const std::optional<PlotRequest> request = figure_request(study, figure.collected.points());
  if (!request) refuse("'" + table_name + "' has nothing to draw: every point stopped");
  OutputFiles files(study, table_name);
  draw_plot(gnuplot, *request, files.create_figure_draft());
  files.place_figure();
}

}  // namespace blocklevels
