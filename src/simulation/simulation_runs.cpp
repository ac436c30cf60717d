#include "simulation/simulation_runs.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <optional>
#include <thread>
#include <vector>

namespace blocklevels::simulation {

RunTotals empty_totals(const SimulationParams& params) {
  return RunTotals(report_count(params), params.blocks);
}

void simulate_run(const SimulationParams& params, std::uint64_t seed, std::uint64_t run,
                  Population& population, RunTotals& totals) {
  pcg32 rng(seed, run);
  population.start(rng);
  const std::int64_t reports = report_count(params);
  const std::int64_t last = report_generation(params, reports - 1);
  std::int64_t report = 0;
  for (std::int64_t t = 1; t <= last; ++t) {
    population.breed(rng);
    if (t == report_generation(params, report)) {
      totals.add_report(report++, population.level_histogram());
    }
    if (t < last) population.select(rng);
  }
  totals.count_run();
}

RunTotals simulate_runs(const SimulationParams& params, std::uint64_t seed, RunSet runs,
                        unsigned threads) {
  assert_valid(params);
  const std::uint64_t count = runs.size();
  const auto workers = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(threads, 1, std::max<std::uint64_t>(count, 1)));
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::optional<RunTotals>> results(workers);
  std::vector<std::exception_ptr> errors(workers);

  // Each worker takes the next unclaimed run until none is left.
  auto work = [&](std::size_t w) {
    try {
      Population population(params);
      RunTotals totals = empty_totals(params);
      for (std::uint64_t i = next++; i < count && !failed; i = next++) {
        simulate_run(params, seed, runs.run(i), population, totals);
      }
      results[w] = std::move(totals);
    } catch (...) {
      errors[w] = std::current_exception();
      failed = true;
    }
  };
  {
    std::vector<std::jthread> pool;
    try {
      for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(work, w);
    } catch (...) {
      failed = true;  // the threads started stop at their next run and are joined
      throw;
    }
    work(0);
  }  // joins

  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  RunTotals totals = empty_totals(params);
  for (const std::optional<RunTotals>& result : results) totals.add(*result);
  return totals;
}

}  // namespace blocklevels::simulation
