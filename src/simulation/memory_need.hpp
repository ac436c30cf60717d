// The memory a simulation takes, estimated from a point's parameters before
// it runs, and the check of that against what the process may still take
// (runtime::available_memory() gives that figure; this layer reads nothing).
#pragma once

#include <cstdint>
#include <string>

#include "parameters/point_parameters.hpp"

namespace blocklevels::simulation {

// simulate_runs' allocations: each worker (min(threads, runs), at least one)
// holds a population and a set of totals (Population::allocated_bytes,
// RunTotals::allocated_bytes), and each worker beyond the calling thread a
// stack of kThreadStack bytes of address space. Pages are taken as they are
// first written, and a run writes all of them but the mu free chromosome
// slots selection has not needed at once (up to all of them), so that the
// resident size runs reach is at most the estimate and at least two thirds
// of it; the simulation memory test measures both.
struct SimulationMemory {
  static constexpr std::uint64_t kThreadStack = std::uint64_t{8} << 20;  // the usual default

  std::uint64_t per_worker = 0;
  std::uint64_t workers = 0;

  // For all workers, saturated at 2^64 - 1.
  std::uint64_t bytes() const { return for_workers(workers); }
  std::uint64_t for_workers(std::uint64_t count) const;
};

SimulationMemory simulation_memory(const PointParameters& p, unsigned threads, std::uint64_t runs);

// The outcome of the check: the threads to run with, as many as asked for
// (or as there are runs) when their memory fits, fewer when only fewer fit,
// as simulate_runs itself would when a population cannot be allocated; or,
// when not even one worker fits, a refusal with stop number 203 (out of
// memory), which the front ends turn into their messages.
struct MemoryCheck {
  unsigned threads = 0;         // 0: refused
  std::uint64_t needed = 0;     // bytes for `threads` workers; for one when refused
  std::uint64_t available = 0;  // as given

  bool refused() const { return threads == 0; }
  int stop_number() const;
  // The figures in words: "needs 24 GB; 18 GB are available", the need
  // rounded up and the available memory down, so that a refusal never
  // reads as if it fitted.
  std::string words() const;
};

MemoryCheck check_memory(const PointParameters& p, unsigned threads, std::uint64_t runs,
                         std::uint64_t available);

// A number of bytes in decimal units: "512 bytes", "1.5 kB", "980 MB",
// "24 GB", "12 TB"; one decimal below 10 of a unit, none from 10 on; rounded
// up or down.
std::string bytes_in_words(std::uint64_t bytes, bool round_up);

}  // namespace blocklevels::simulation
