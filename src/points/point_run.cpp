#include "points/point_run.hpp"

#include <algorithm>

#include "arithmetic/out_of_memory.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels {
namespace {

// The model's reports as results, the observer shown each, and the hitting
// time when one is asked for.
class ModelResults final : public ModelSink {
 public:
  ModelResults(const Point& point, const PointWork& work, ResultSink& sink, PointProgress* progress,
               ModelSink* observer)
      : point_(point),
        work_(work),
        sink_(sink),
        progress_(progress),
        observer_(observer),
        last_(last_report_time(point.p)) {}

  void start(std::int64_t first_report) override {
    if (observer_ != nullptr) observer_->start(first_report);
  }
  void report(std::int64_t t, std::span<const double> tail) override {
    if (observer_ != nullptr) observer_->report(t, tail);
    if (progress_ != nullptr) progress_->model_reached(t);
    if (checked(work_)) every_report_.push_back({t, {tail.begin(), tail.end()}});
    if (!work_.model_reports || (!work_.every_report && t != last_)) return;
    sink_.take({point_, ModelReport{t, {tail.begin(), tail.end()}}});
  }
  bool watches_every_generation() const override { return work_.hitting != nullptr; }
  bool generation(std::int64_t t, std::span<const double> tail) override {
    if (!work_.hitting->reached(work_.hitting->quantity.of(tail))) return true;
    hit_ = ModelHitting{t, {tail.begin(), tail.end()}};
    return false;
  }
  // The hitting time found, or none.
  const ModelHitting& hit() const { return hit_; }
  // Every report, whatever the sink was given, when the point is checked.
  const std::vector<ModelReport>& every_report() const { return every_report_; }

  // Whether the model is checked against the simulated runs: two or more,
  // summarised here (a shard's sums are checked once merged). The model's
  // every report is kept for it: fewer values than the runs' totals hold.
  static bool checked(const PointWork& work) { return work.runs >= 2 && !work.sums; }

 private:
  const Point& point_;
  const PointWork& work_;
  ResultSink& sink_;
  PointProgress* progress_;
  ModelSink* observer_;
  std::int64_t last_;
  ModelHitting hit_;
  std::vector<ModelReport> every_report_;
};

// Hands every result on, keeping the simulated reports for the model check.
class SimulatedReports final : public ResultSink {
 public:
  explicit SimulatedReports(ResultSink& sink) : sink_(sink) {}
  void take(const Result& result) override {
    if (const auto* s = std::get_if<SimulationReport>(&result.value)) reports_.push_back(*s);
    sink_.take(result);
  }
  const std::vector<SimulationReport>& reports() const { return reports_; }

 private:
  ResultSink& sink_;
  std::vector<SimulationReport> reports_;
};

// The totals of report `report` alone.
simulation::RunTotals one_report(const simulation::RunTotals& totals, std::int64_t report) {
  const std::int32_t l = totals.blocks();
  std::vector<std::uint64_t> sums{totals.sum_level(report)};
  std::vector<simulation::uint128> squares{totals.sum_level_squared(report)};
  for (std::int32_t j = 1; j <= l; ++j) {
    sums.push_back(totals.sum_at_least(report, j));
    squares.push_back(totals.sum_at_least_squared(report, j));
  }
  simulation::RunTotals one(1, l);
  one.add_sums(totals.runs(), sums, squares);
  return one;
}

// The point's simulated runs (this shard's), in batches of one run per
// thread, each batch followed by its progress; then the results of every
// report time and of the hitting times. A search's crossing is simulated
// with its reports at the final generation alone (`at_final`): a run's
// draws do not depend on when it is observed, so these are the same runs.
void simulate(const Point& point, const PointWork& work, bool at_final, ResultSink& sink,
              PointProgress* progress, const std::stop_token& cancel) {
  PointParameters p = point.p;
  if (at_final) p.step_generations = p.final_iteration;
  const auto total = static_cast<std::uint64_t>(work.runs);
  const std::uint64_t first = work.first_run, stride = work.run_stride;
  const std::uint64_t mine = simulation::RunSet{total, first, stride}.size();
  const std::uint64_t batch = std::max(1U, work.threads);
  simulation::RunTotals totals = simulation::empty_totals(p);
  for (std::uint64_t done = 0; done < mine;) {
    const std::uint64_t next = std::min(mine, done + batch);
    // Runs first + i stride for done <= i < next.
    const simulation::RunSet runs{first + next * stride - (stride - 1), first + done * stride,
                                  stride};
    totals.add(simulation::simulate_runs(p, work.seed, runs, work.threads, work.hitting, cancel));
    done = next;
    if (progress != nullptr) progress->runs_done(done, mine);
  }
  const std::int64_t reports = totals.reports();
  const simulation::Summary summary =
      work.sums ? simulation::Summary{} : simulation::summarize(totals, p.lambda);
  for (std::int64_t report = 0; report < reports; ++report) {
    const std::int64_t t = report_time(p, report);
    if (work.sums) {
      sink.take({point, ShardSums{t, one_report(totals, report)}});
      continue;
    }
    SimulationReport r{t, summary.mean_level[static_cast<std::size_t>(report)], {}};
    for (std::int32_t j = 1; j <= p.blocks; ++j)
      r.fractions.push_back(summary.fraction_at(report, j));
    sink.take({point, std::move(r)});
  }
  if (work.hitting == nullptr) return;
  if (work.sums) {
    sink.take({point, HittingCounts{totals.hitting()}});
  } else {
    sink.take({point, HittingSummary{simulation::summarize_hitting(totals.hitting(),
                                                                   p.final_iteration, p.lambda)}});
  }
  if (!work.hitting_runs) return;
  for (const auto& [run, t] : totals.run_hitting()) sink.take({point, HittingRun{run, t}});
}

void tell_stage(PointProgress* progress, SearchStage stage) {
  if (progress != nullptr) progress->model_reached(static_cast<std::int64_t>(stage));
}

// The simulated search's runs as the point's progress, with its stage.
class SimulatedSearchRelay final : public SimulatedSearchProgress {
 public:
  SimulatedSearchRelay(PointProgress* progress, std::uint64_t grid_runs)
      : progress_(progress), grid_runs_(grid_runs) {}
  void simulated(std::uint64_t done, std::uint64_t planned) override {
    if (progress_ == nullptr) return;
    if (done >= grid_runs_) tell_stage(progress_, SearchStage::simulated_refinement);
    progress_->runs_done(done, planned);
  }

 private:
  PointProgress* progress_;
  std::uint64_t grid_runs_;
};

// The simulated quantity's own crossings, each with its runs at the
// estimate, or the answer that there is none.
void simulated_search(const Point& point, const PointWork& work, ResultSink& sink,
                      PointProgress* progress, const std::stop_token& cancel) {
  tell_stage(progress, SearchStage::simulated_grid);
  const auto grid = search_grid(simulated_grid_search(*work.find)).size();
  SimulatedSearchRelay relay(progress, grid * static_cast<std::uint64_t>(work.runs));
  const SimulatedThresholds found = find_simulated_thresholds(
      point, *work.find, {work.runs, work.seed, work.threads}, &relay, cancel);
  if (found.crossings.empty()) sink.take({point, SimulatedThreshold{}});
  for (const SimulatedCrossing& c : found.crossings) {
    sink.take({c.point, SimulatedThreshold{true, c.lower, c.upper, c.direction}});
    simulate(c.point, work, true, sink, nullptr, cancel);
  }
}

// A search: its grid, then each crossing with its simulated runs at the
// final generation, or the answer that there is none; with simulated runs
// the simulated quantity's search after it.
void search(const Point& point, const PointWork& work, ResultSink& sink, PointProgress* progress,
            const std::stop_token& cancel) {
  tell_stage(progress, SearchStage::model);
  const ThresholdResult result =
      find_thresholds(point, *work.find, work.threads, work.models, cancel);
  sink.take({point, ThresholdGrid{result.grid_values, result.grid_quantity}});
  if (result.crossings.empty()) sink.take({point, Threshold{}});
  if (work.runs > 0 && !result.crossings.empty()) {
    tell_stage(progress, SearchStage::simulated_crossings);
  }
  for (const Crossing& crossing : result.crossings) {
    sink.take({crossing.point, Threshold{true, crossing.lower, crossing.upper, crossing.direction,
                                         crossing.point.p.final_iteration, crossing.tail}});
    if (work.runs > 0) simulate(crossing.point, work, true, sink, progress, cancel);
  }
  if (work.runs > 0) simulated_search(point, work, sink, progress, cancel);
}

}  // namespace

void run_point(const Point& point, const PointWork& work, ResultSink& sink, PointProgress* progress,
               ModelSink* observer, const std::stop_token& cancel) {
  stop_when_out_of_memory([&] {
    if (work.find != nullptr) {
      search(point, work, sink, progress, cancel);
      return;
    }
    ModelResults model(point, work, sink, progress, observer);
    if (work.model) {
      if (work.models != nullptr) {
        work.models->prepared(point.p, cancel)->run(point.p, model, cancel);
      } else {
        run_model(point.p, model, cancel);
      }
      if (work.hitting != nullptr && work.model_reports) sink.take({point, model.hit()});
    }
    if (work.runs <= 0) return;
    SimulatedReports simulated(sink);
    simulate(point, work, false, simulated, progress, cancel);
    if (!work.model || !ModelResults::checked(work)) return;
    const std::optional<ModelCheck> check = check_model(
        point.p, static_cast<std::uint64_t>(work.runs), model.every_report(), simulated.reports());
    if (check) sink.take({point, ModelChecked{*check}});
  });
}

}  // namespace blocklevels
