#include "python/point_runs.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <thread>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "points/model_cache.hpp"
#include "runtime/memory_room.hpp"
#include "study/study_memory.hpp"

namespace blocklevels::python {
namespace {

class KeptResults final : public ResultSink {
 public:
  explicit KeptResults(std::vector<Result>& results) : results_(results) {}
  void take(const Result& result) override { results_.push_back(result); }

 private:
  std::vector<Result>& results_;
};

// A point's results, or the Stopped result of its stop.
std::vector<Result> run_one(const Point& point, const PointWork& work,
                            const std::stop_token& cancel) {
  std::vector<Result> results;
  KeptResults kept(results);
  // A simulation that would take more memory than there is stops as it
  // would when an allocation fails, before the system ends the process.
  if (work.runs > 0) {
    const runtime::MemoryRoom room = runtime::memory_room();
    if (simulation_memory_refusal(point, work.runs, room.bytes, room.limit)) {
      return {{point, Stopped{kOutOfMemory, false, std::nullopt}}};
    }
  }
  try {
    run_point(point, work, kept, nullptr, nullptr, cancel);
  } catch (const Stop& stop) {
    return {{point, Stopped{stop.number(), false, std::nullopt}}};
  }
  return results;
}

}  // namespace

std::vector<std::vector<Result>> run_points(std::span<const Point> points, const PointWork& work,
                                            int jobs, const std::stop_token& cancel) {
  std::vector<std::vector<Result>> results(points.size());
  // As the command line shares its jobs: the points run side by side, each
  // with an equal share of the threads for its simulated runs.
  const std::size_t workers = std::clamp<std::size_t>(static_cast<std::size_t>(std::max(jobs, 1)),
                                                      1, std::max<std::size_t>(points.size(), 1));
  PointWork shared = work;
  shared.threads = static_cast<unsigned>(std::max(1, jobs / static_cast<int>(workers)));
  // Points with the same model, arithmetic and mutation share one prepared
  // matrix, as the command line's do; the values are the same either way.
  ModelCache models(model_cache_budget(runtime::memory_room().bytes), kModelCacheEntries);
  if (shared.models == nullptr) shared.models = &models;
  std::atomic<std::size_t> next{0};
  std::vector<std::exception_ptr> errors(workers);
  auto run = [&](std::size_t w) {
    try {
      for (std::size_t i = next++; i < points.size(); i = next++) {
        stop_if_cancelled(cancel);
        results[i] = run_one(points[i], shared, cancel);
      }
    } catch (...) {
      errors[w] = std::current_exception();
      next = points.size();  // the others take no new point
    }
  };
  {
    std::vector<std::jthread> pool;
    for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(run, w);
    run(0);
  }  // joins
  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  return results;
}

}  // namespace blocklevels::python
