#include "output/table_layout.hpp"

#include <array>

#include "parameters/parameter_table.hpp"
#include "parameters/quantity.hpp"

namespace blocklevels {
namespace {

constexpr std::string_view kSourceNames[] = {"model",
                                             "stopped",
                                             "simulation",
                                             "simulation_ci95",
                                             "simulation_runs",
                                             "simulation_sum",
                                             "simulation_sum_of_squares",
                                             "threshold",
                                             "hitting",
                                             "simulation_hitting",
                                             "simulation_hitting_counts",
                                             "shard",
                                             "shard_end",
                                             "simulated_threshold",
                                             "simulation_hitting_run"};

// The columns after the values, in order, with what their cells hold.
constexpr std::pair<std::string_view, ColumnKind> kAnswerColumns[] = {
    {"condition", ColumnKind::text},
    {"search", ColumnKind::text},
    {"grid", ColumnKind::integer},
    {"direction", ColumnKind::text},
    {"lower", ColumnKind::real},
    {"upper", ColumnKind::real},
    {"reached", ColumnKind::integer},
    {"success_rate", ColumnKind::real},
    {"success_low", ColumnKind::real},
    {"success_high", ColumnKind::real},
    {"lower_quartile_t", ColumnKind::integer},
    {"median_t", ColumnKind::integer},
    {"upper_quartile_t", ColumnKind::integer},
    {"restricted_mean_t", ColumnKind::real},
    {"evaluations", ColumnKind::real},
    {"count", ColumnKind::integer},
    {"shard", ColumnKind::integer},
    {"shards", ColumnKind::integer},
    {"fingerprint", ColumnKind::text},
    {"rows", ColumnKind::integer},
    {"points", ColumnKind::integer},
    {"format", ColumnKind::text},
};

// The searched parameter of "PARAM:LOW:HIGH".
std::string_view searched_name(std::string_view search) {
  return search.substr(0, search.find(':'));
}

// A fingerprint as 16 hexadecimal digits: it is a label, not a number.
std::string hex64(std::uint64_t v) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string text(16, '0');
  for (std::size_t i = 16; i-- > 0; v >>= 4) text[i] = kDigits[v & 15];
  return text;
}

}  // namespace

std::string_view source_name(Source source) {
  return kSourceNames[static_cast<std::size_t>(source)];
}

std::optional<Source> source_called(std::string_view name) {
  for (std::size_t n = 0; n < std::size(kSourceNames); ++n) {
    if (kSourceNames[n] == name) return static_cast<Source>(n);
  }
  return std::nullopt;
}

TableLayout::TableLayout(std::int32_t max_blocks, bool run_column)
    : max_blocks_(max_blocks), run_column_(run_column) {
  const auto add = [this](std::string name, ColumnKind kind) {
    columns_.push_back({std::move(name), kind});
    return columns_.size() - 1;
  };
  source_ = add("source", ColumnKind::text);
  for (const ParameterDescription& d : parameter_table()) {
    add(std::string(d.name),
        d.kind == ParameterKind::integer ? ColumnKind::integer : ColumnKind::text);
  }
  runs_ = add("runs", ColumnKind::integer);
  seed_ = add("seed", ColumnKind::count);
  if (run_column) run_ = add("run", ColumnKind::count);
  t_ = add("t", ColumnKind::integer);
  status_ = add("status", ColumnKind::integer);
  mean_level_ = add("mean_level", ColumnKind::real);
  for (std::int32_t j = 1; j <= max_blocks; ++j) add("X" + std::to_string(j), ColumnKind::real);
  for (const auto& [name, kind] : kAnswerColumns) add(std::string(name), kind);
  condition_ = column("condition");
  search_ = column("search");
  grid_ = column("grid");
  direction_ = column("direction");
  lower_ = column("lower");
  upper_ = column("upper");
  reached_ = column("reached");
  success_ = column("success_rate");
  count_ = column("count");
  shard_ = column("shard");
  format_ = column("format");
}

std::size_t TableLayout::column(std::string_view name) const {
  for (std::size_t n = 0; n < columns_.size(); ++n) {
    if (columns_[n].name == name) return n;
  }
  return columns_.size();
}

// The point's parameters; a search's row without a crossing leaves its
// searched parameter empty, so that no value there looks like an answer.
void TableLayout::point_cells(const Point& point, std::string_view leave_out,
                              RowWriter& out) const {
  std::size_t column = source_ + 1;
  for (const ParameterDescription& d : parameter_table()) {
    if (d.name != leave_out) {
      if (d.kind == ParameterKind::integer) {
        out.integer(column, point.p.*d.integer);
      } else {
        out.text(column, parameter_text(point, d));
      }
    }
    ++column;
  }
}

StudySettings row_settings(Source source, const StudySettings& study) {
  StudySettings row;
  const bool runs = source != Source::model && source != Source::stopped &&
                    source != Source::hitting && source != Source::threshold;
  if (runs) {
    row.runs = study.runs;
    row.seed = study.runs ? study.seed : 0;
  }
  if (source == Source::hitting || source == Source::simulation_hitting ||
      source == Source::simulation_hitting_counts || source == Source::simulation_hitting_run ||
      source == Source::threshold || source == Source::simulated_threshold ||
      source == Source::shard) {
    row.condition = study.condition;
  }
  if (source == Source::threshold || source == Source::simulated_threshold ||
      source == Source::shard) {
    row.search = study.search;
    row.grid = study.search.empty() ? 0 : study.grid;
  }
  return row;
}

// The runs and seed, where the row has them.
void TableLayout::settings_cells(Source source, const StudySettings& settings,
                                 RowWriter& out) const {
  const StudySettings row = row_settings(source, settings);
  if (!row.runs) return;
  out.integer(runs_, *row.runs);
  out.count(seed_, row.seed);
}

// The condition, the search and its grid, where the row has them.
void TableLayout::answer_cells(Source source, const StudySettings& settings, RowWriter& out) const {
  const StudySettings row = row_settings(source, settings);
  if (!row.condition.empty()) out.text(condition_, row.condition);
  if (row.search.empty()) return;
  out.text(search_, row.search);
  out.integer(grid_, row.grid);
}

// mean_level, then X1..Xl.
void TableLayout::values(std::span<const double> tail, RowWriter& out) const {
  out.real(mean_level_, sum_in_level_order(tail));
  for (std::size_t j = 0; j < tail.size(); ++j) out.real(mean_level_ + 1 + j, tail[j]);
}

// A row's source, point and run settings: how most rows begin.
void TableLayout::begin_row(Source source, const Result& result, const StudySettings& settings,
                            RowWriter& out) const {
  out.begin_row();
  out.text(source_, source_name(source));
  point_cells(result.point, "", out);
  settings_cells(source, settings, out);
}

// The table's format: how every row ends.
void TableLayout::end_row(RowWriter& out) const {
  out.text(format_, format());
  out.end_row();
}

void TableLayout::write(const Result& result, const StudySettings& settings, RowWriter& out) const {
  if (const auto* m = std::get_if<ModelReport>(&result.value)) {
    begin_row(Source::model, result, settings, out);
    out.integer(t_, m->t);
    values(m->tail, out);
    end_row(out);
  } else if (const auto* s = std::get_if<Stopped>(&result.value)) {
    begin_row(Source::stopped, result, settings, out);
    out.integer(status_, s->status);
    end_row(out);
  } else if (std::holds_alternative<SimulationReport>(result.value) ||
             std::holds_alternative<ShardSums>(result.value)) {
    write_simulation(result, settings, out);
  } else if (const auto* h = std::get_if<ModelHitting>(&result.value)) {
    begin_row(Source::hitting, result, settings, out);
    if (h->t) {
      out.integer(t_, *h->t);
      values(h->tail, out);
    }
    answer_cells(Source::hitting, settings, out);
    end_row(out);
  } else if (const auto* c = std::get_if<HittingCounts>(&result.value)) {
    write_hitting_counts(result, *c, settings, out);
  } else if (const auto* summary = std::get_if<HittingSummary>(&result.value)) {
    write_hitting_summary(result, summary->summary, settings, out);
  } else if (const auto* threshold = std::get_if<Threshold>(&result.value)) {
    write_threshold(result, *threshold, settings, out);
  } else if (const auto* simulated = std::get_if<SimulatedThreshold>(&result.value)) {
    write_simulated_threshold(result, *simulated, settings, out);
  } else if (const auto* run = std::get_if<HittingRun>(&result.value)) {
    write_hitting_run(result, *run, settings, out);
  }
}

// A table without the run column holds no run's own hitting time: the
// study did not ask for them, and such results are not written.
void TableLayout::write_hitting_run(const Result& result, const HittingRun& run,
                                    const StudySettings& settings, RowWriter& out) const {
  if (!run_column_) return;
  begin_row(Source::simulation_hitting_run, result, settings, out);
  out.count(run_, run.run);
  if (run.t) out.integer(t_, *run.t);
  answer_cells(Source::simulation_hitting_run, settings, out);
  end_row(out);
}

// The estimate in the searched parameter's column, the band's interval in
// lower and upper; the runs at the estimate are the next rows.
void TableLayout::write_simulated_threshold(const Result& result,
                                            const SimulatedThreshold& threshold,
                                            const StudySettings& settings, RowWriter& out) const {
  out.begin_row();
  out.text(source_, source_name(Source::simulated_threshold));
  point_cells(result.point, threshold.found ? "" : searched_name(settings.search), out);
  settings_cells(Source::simulated_threshold, settings, out);
  answer_cells(Source::simulated_threshold, settings, out);
  if (threshold.found) {
    out.text(direction_, direction_name(threshold.direction));
    out.real(lower_, static_cast<double>(threshold.lower));
    out.real(upper_, static_cast<double>(threshold.upper));
  }
  out.text(format_, format());
  out.end_row();
}

// A row per generation at which runs first reached the value, then one of
// the runs that never did.
void TableLayout::write_hitting_counts(const Result& result, const HittingCounts& counts,
                                       const StudySettings& settings, RowWriter& out) const {
  for (const auto& [t, runs] : counts.times.first) {
    begin_row(Source::simulation_hitting_counts, result, settings, out);
    out.integer(t_, t);
    answer_cells(Source::simulation_hitting_counts, settings, out);
    out.integer(count_, static_cast<std::int64_t>(runs));
    end_row(out);
  }
  begin_row(Source::simulation_hitting_counts, result, settings, out);
  answer_cells(Source::simulation_hitting_counts, settings, out);
  out.integer(count_, static_cast<std::int64_t>(counts.times.never));
  end_row(out);
}

void TableLayout::write_hitting_summary(const Result& result, const simulation::HittingSummary& hs,
                                        const StudySettings& settings, RowWriter& out) const {
  begin_row(Source::simulation_hitting, result, settings, out);
  answer_cells(Source::simulation_hitting, settings, out);
  out.integer(reached_, static_cast<std::int64_t>(hs.reached));
  out.real(success_, hs.success_rate);
  out.real(success_ + 1, hs.success_low);
  out.real(success_ + 2, hs.success_high);
  const std::optional<std::int64_t> quartiles[] = {hs.lower_quartile, hs.median, hs.upper_quartile};
  for (std::size_t n = 0; n < 3; ++n) {
    if (quartiles[n]) out.integer(success_ + 3 + n, *quartiles[n]);
  }
  out.real(success_ + 6, hs.restricted_mean);
  if (hs.evaluations) out.real(success_ + 7, *hs.evaluations);
  end_row(out);
}

void TableLayout::write_threshold(const Result& result, const Threshold& threshold,
                                  const StudySettings& settings, RowWriter& out) const {
  out.begin_row();
  out.text(source_, source_name(Source::threshold));
  point_cells(result.point, threshold.found ? "" : searched_name(settings.search), out);
  if (threshold.found) {
    out.integer(t_, threshold.t);
    values(threshold.tail, out);
  }
  answer_cells(Source::threshold, settings, out);
  if (threshold.found) {
    out.text(direction_, direction_name(threshold.direction));
    out.real(lower_, static_cast<double>(threshold.lower));
    out.real(upper_, static_cast<double>(threshold.upper));
  }
  end_row(out);
}

void TableLayout::write_simulation(const Result& result, const StudySettings& settings,
                                   RowWriter& out) const {
  const auto row = [&](Source source, std::int64_t t) {
    begin_row(source, result, settings, out);
    out.integer(t_, t);
  };
  const auto end = [&] { end_row(out); };
  if (const auto* r = std::get_if<SimulationReport>(&result.value)) {
    row(Source::simulation, r->t);
    out.real(mean_level_, r->level.mean);
    for (std::size_t j = 0; j < r->fractions.size(); ++j) {
      out.real(mean_level_ + 1 + j, r->fractions[j].mean);
    }
    end();
    row(Source::simulation_ci95, r->t);
    out.real(mean_level_, r->level.half_width);
    for (std::size_t j = 0; j < r->fractions.size(); ++j) {
      out.real(mean_level_ + 1 + j, r->fractions[j].half_width);
    }
    end();
    return;
  }
  const ShardSums& sums = std::get<ShardSums>(result.value);
  const simulation::RunTotals& totals = sums.totals;
  const std::int32_t l = totals.blocks();
  row(Source::simulation_runs, sums.t);
  for (std::int32_t j = 0; j <= l; ++j)
    out.count(mean_level_ + static_cast<std::size_t>(j), totals.runs());
  end();
  row(Source::simulation_sum, sums.t);
  out.count(mean_level_, totals.sum_level(0));
  for (std::int32_t j = 1; j <= l; ++j) {
    out.count(mean_level_ + static_cast<std::size_t>(j), totals.sum_at_least(0, j));
  }
  end();
  row(Source::simulation_sum_of_squares, sums.t);
  out.count(mean_level_, totals.sum_level_squared(0));
  for (std::int32_t j = 1; j <= l; ++j) {
    out.count(mean_level_ + static_cast<std::size_t>(j), totals.sum_at_least_squared(0, j));
  }
  end();
}

void TableLayout::write_shard(const ShardIdentity& shard, const StudySettings& settings,
                              RowWriter& out) const {
  out.begin_row();
  out.text(source_, source_name(Source::shard));
  settings_cells(Source::shard, settings, out);
  answer_cells(Source::shard, settings, out);
  out.integer(shard_, shard.k);
  out.integer(shard_ + 1, shard.n);
  out.text(shard_ + 2, hex64(shard.fingerprint));
  end_row(out);
}

void TableLayout::write_shard_end(const ShardIdentity& shard, const StudySettings& settings,
                                  const ShardEnd& end, RowWriter& out) const {
  out.begin_row();
  out.text(source_, source_name(Source::shard_end));
  settings_cells(Source::shard_end, settings, out);
  out.integer(shard_, shard.k);
  out.integer(shard_ + 1, shard.n);
  out.text(shard_ + 2, hex64(end.fingerprint));
  out.integer(shard_ + 3, static_cast<std::int64_t>(end.rows));
  out.integer(shard_ + 4, static_cast<std::int64_t>(end.points));
  end_row(out);
}

}  // namespace blocklevels
