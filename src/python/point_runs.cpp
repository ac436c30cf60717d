#include "python/point_runs.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "model/model_run.hpp"
#include "output/csv_table.hpp"
#include "simulation/simulation_runs.hpp"

namespace blocklevels::python {
namespace {

// Keeps every report of a model run, in report order.
class KeptReports final : public ModelSink {
 public:
  explicit KeptReports(PointResult& result) : result_(result) {}
  void start(std::int64_t) override {}
  void report(std::int64_t, std::span<const double> tail) override {
    result_.tail.insert(result_.tail.end(), tail.begin(), tail.end());
    result_.mean_level.push_back(sum_in_level_order(tail));
  }

 private:
  PointResult& result_;
};

PointResult stopped(int status) {
  PointResult result;
  result.status = status;
  return result;
}

PointResult run_point(const Point& point, const RunRequest& request, unsigned threads,
                      const std::stop_token& cancel) {
  const PointParameters& p = point.p;
  PointResult result;
  result.reports = report_count(p);
  try {
    if (request.model) {
      const auto values =
          static_cast<std::size_t>(result.reports) * static_cast<std::size_t>(p.blocks);
      result.tail.reserve(values);
      result.mean_level.reserve(static_cast<std::size_t>(result.reports));
      KeptReports sink(result);
      run_model(p, sink, cancel);
    }
    if (request.runs > 0) {
      const simulation::RunSet runs{static_cast<std::uint64_t>(request.runs), 0, 1};
      result.totals = simulation::simulate_runs(p, request.seed, runs, threads, nullptr, cancel);
    }
  } catch (const Stop& stop) {
    return stopped(stop.number());
  } catch (const std::bad_alloc&) {
    return stopped(kOutOfMemory);
  }
  return result;
}

}  // namespace

std::vector<PointResult> run_points(std::span<const Point> points, const RunRequest& request,
                                    const std::stop_token& cancel) {
  std::vector<PointResult> results(points.size());
  // As the command line shares its jobs: the points run side by side, each
  // with an equal share of the threads for its simulated runs.
  const std::size_t workers =
      std::clamp<std::size_t>(static_cast<std::size_t>(std::max(request.jobs, 1)), 1,
                              std::max<std::size_t>(points.size(), 1));
  const unsigned threads =
      static_cast<unsigned>(std::max(1, request.jobs / static_cast<int>(workers)));
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> errors(workers);
  auto work = [&](std::size_t w) {
    try {
      for (std::size_t i = next++; i < points.size(); i = next++) {
        stop_if_cancelled(cancel);
        results[i] = run_point(points[i], request, threads, cancel);
      }
    } catch (...) {
      errors[w] = std::current_exception();
      next = points.size();  // the others take no new point
    }
  };
  {
    std::vector<std::jthread> pool;
    for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(work, w);
    work(0);
  }  // joins
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  return results;
}

}  // namespace blocklevels::python
