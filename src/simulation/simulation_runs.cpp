#include "simulation/simulation_runs.hpp"

#include <algorithm>
#include <atomic>
#include <exception>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

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
                  Population& population, RunTotals& totals) {
  pcg32 rng(seed, run);
  population.start(rng);
  const std::int64_t last = last_report_time(params);
  std::int64_t report = 0;
  for (std::int64_t t = 1; t <= last; ++t) {
    population.breed(rng);
    if (t == report_time(params, report)) {
      totals.add_report(report++, population.level_histogram());
    }
    if (t < last) population.select(rng);
  }
  totals.count_run();
}

RunTotals simulate_runs(const PointParameters& params, std::uint64_t seed, RunSet runs,
                        unsigned threads) {
  assert_simulable(params);
  const std::uint64_t count = runs.size();
  const auto workers = static_cast<std::size_t>(
      std::clamp<std::uint64_t>(threads, 1, std::max<std::uint64_t>(count, 1)));
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> failed{false};
  // Per worker: its totals, nothing when it took no part (it could not be
  // started, or its population did not fit), and what stopped it.
  std::vector<std::optional<RunTotals>> results(workers);
  std::vector<std::exception_ptr> errors(workers);

  // Each worker takes the next unclaimed run until none is left, in its own
  // floating-point environment. A worker whose population does not fit in
  // memory takes no run: the others take them all (the totals do not depend
  // on who ran what), and only when no population fits is the simulation
  // out of memory.
  auto work = [&](std::size_t w) {
    const ExtendedArithmetic arithmetic;
    std::optional<Population> population;
    try {
      population.emplace(params);
    } catch (const std::bad_alloc&) {
      return;
    }
    try {
      RunTotals totals = empty_totals(params);
      for (std::uint64_t i = next++; i < count && !failed; i = next++) {
        simulate_run(params, seed, runs.run(i), *population, totals);
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
  {
    std::vector<std::jthread> pool;
    try {
      for (std::size_t w = 1; w < workers; ++w) pool.emplace_back(work, w);
    } catch (const std::exception&) {
      // A thread that cannot be started (no memory for its stack) leaves its
      // runs to the others, as a population that does not fit does.
    }
    work(0);
  }  // joins

  for (const std::exception_ptr& error : errors) {
    if (error) std::rethrow_exception(error);
  }
  if (std::none_of(results.begin(), results.end(), [](const auto& r) { return r.has_value(); })) {
    throw_stop(kOutOfMemory);  // not one population fitted
  }
  // The first worker's totals take the others in: the sums are those of
  // adding all into zeros, without allocating and adding a zeroed set.
  std::optional<RunTotals> totals;
  for (std::optional<RunTotals>& result : results) {
    if (!result) continue;
    if (totals) {
      totals->add(*result);
    } else {
      totals = std::move(result);
    }
  }
  return std::move(*totals);
}

}  // namespace blocklevels::simulation
