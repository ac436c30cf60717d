#include "simulation/simulation_runs.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels::simulation {
namespace {

// A run computes nothing that can fail: every logarithm is of a number in
// (0, 1], every divisor non-zero. A raised flag is a fault all the same,
// reported rather than written into a table.
void stop_on_raised_flags() {
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
  if (raised.overflow) throw_stop(kFloatOverflow);
}

}  // namespace

RunTotals empty_totals(const PointParameters& params) {
  return RunTotals(report_count(params), params.blocks);
}

void simulate_run(const PointParameters& params, std::uint64_t seed, std::uint64_t run,
                  Population& population, RunTotals& totals, const std::stop_token& cancel) {
  pcg32 rng(seed, run);
  population.start(rng);
  const std::int64_t last = last_report_time(params);
  std::int64_t report = 0;
  for (std::int64_t t = 1; t <= last; ++t) {
    stop_if_cancelled(cancel);
    population.breed(rng);
    if (t == report_time(params, report)) {
      totals.add_report(report++, population.level_histogram());
    }
    if (t < last) population.select(rng);
  }
  totals.count_run();
}

RunTotals simulate_runs(const PointParameters& params, std::uint64_t seed, RunSet runs,
                        unsigned threads, const std::stop_token& cancel) {
  assert_simulable(params);
  const std::uint64_t count = runs.size();
  const auto workers = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(threads, 1, std::max<std::uint64_t>(count, 1)));
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false};
  std::vector<std::optional<RunTotals>> results(workers);
  std::vector<std::exception_ptr> errors(workers);

  // Each worker takes the next unclaimed run until none is left, in its own
  // floating-point environment.
  auto work = [&](std::size_t w) {
    const ExtendedArithmetic arithmetic;
    try {
      Population population(params);
      RunTotals totals = empty_totals(params);
      for (std::uint64_t i = next++; i < count && !failed; i = next++) {
        simulate_run(params, seed, runs.run(i), population, totals, cancel);
        stop_on_raised_flags();
      }
      results[w] = std::move(totals);
    } catch (const std::bad_alloc&) {
      errors[w] = std::make_exception_ptr(Stop(kOutOfMemory, 0));
      failed = true;
    } catch (...) {
      errors[w] = std::current_exception();
      failed = true;
    }
  };
  try {
    std::vector<std::jthread> pool;
    try {
      for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(work, w);
    } catch (...) {
      failed = true;  // the threads started stop at their next run and are joined
      throw;
    }
    work(0);
  } catch (const std::bad_alloc&) {
    throw_stop(kOutOfMemory);
  } catch (const std::system_error&) {
    throw_stop(kOutOfMemory);  // no thread could be started: out of resources
  }                            // joins

  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  RunTotals totals = empty_totals(params);
  for (const std::optional<RunTotals>& result : results) totals.add(*result);
  return totals;
}

}  // namespace blocklevels::simulation
