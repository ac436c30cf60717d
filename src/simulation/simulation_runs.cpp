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

namespace {

// The run's quantity from its offspring's level histogram, as a table
// prints it: the double nearest the exact fraction (or mean level).
double quantity_of(const Condition& hitting, std::span<const std::int32_t> histogram,
                   std::int32_t lambda) {
  const auto blocks = static_cast<std::int32_t>(histogram.size()) - 1;
  std::int64_t count = 0;
  if (hitting.quantity.kind == Quantity::Kind::mean_level) {
    for (std::int32_t i = 1; i <= blocks; ++i) {
      count += static_cast<std::int64_t>(i) * histogram[static_cast<std::size_t>(i)];
    }
  } else {
    for (std::int32_t i = hitting.quantity.level_for(blocks); i <= blocks; ++i) {
      count += histogram[static_cast<std::size_t>(i)];
    }
  }
  return static_cast<double>(static_cast<long double>(count) / static_cast<long double>(lambda));
}

}  // namespace

void simulate_run(const PointParameters& params, std::uint64_t seed, std::uint64_t run,
                  Population& population, RunTotals& totals, const Condition* hitting,
                  const std::stop_token& cancel) {
  pcg32 rng(seed, run);
  population.start(rng, cancel);
  // A hitting time is looked for in every generation up to the final one,
  // past the last report when the final generation is not one: the draws
  // of the generations reported do not change.
  const std::int64_t last_report = last_report_time(params);
  const std::int64_t final = params.final_iteration;
  const std::int64_t last = hitting != nullptr ? std::max(last_report, final) : last_report;
  std::int64_t report = 0;
  std::int64_t reached = 0;  // the hitting time, 0 while not reached
  for (std::int64_t t = 1; t <= last; ++t) {
    population.breed(rng, cancel);
    if (hitting != nullptr && reached == 0 && t <= final &&
        hitting->reached(quantity_of(*hitting, population.level_histogram(), params.lambda))) {
      reached = t;
    }
    if (t <= last_report && t == report_time(params, report)) {
      totals.add_report(report++, population.level_histogram());
    }
    if (t < last) population.select(rng, cancel);
  }
  if (hitting != nullptr) {
    if (reached == 0) {
      ++totals.hitting().never;
      totals.run_hitting()[run] = std::nullopt;
    } else {
      ++totals.hitting().first[reached];
      totals.run_hitting()[run] = reached;
    }
  }
  totals.count_run();
}

RunTotals simulate_runs(const PointParameters& params, std::uint64_t seed, RunSet runs,
                        unsigned threads, const Condition* hitting, const std::stop_token& cancel) {
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
        simulate_run(params, seed, runs.run(i), *population, totals, hitting, cancel);
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
