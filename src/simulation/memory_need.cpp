#include "simulation/memory_need.hpp"

#include <algorithm>

#include "arithmetic/stop_numbers.hpp"
#include "simulation/population.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels::simulation {
namespace {

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) {
  std::uint64_t sum = 0;
  return __builtin_add_overflow(a, b, &sum) ? ~std::uint64_t{0} : sum;
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? ~std::uint64_t{0} : product;
}

}  // namespace

std::uint64_t SimulationMemory::for_workers(std::uint64_t count) const {
  if (count == 0) return 0;
  return saturating_sum(saturating_product(per_worker, count),
                        saturating_product(kThreadStack, count - 1));
}

SimulationMemory simulation_memory(const PointParameters& p, unsigned threads, std::uint64_t runs) {
  return {saturating_sum(Population::allocated_bytes(p),
                         RunTotals::allocated_bytes(report_count(p), p.blocks)),
          std::max<std::uint64_t>(1, std::min<std::uint64_t>(threads, runs))};
}

int MemoryCheck::stop_number() const {
  return kOutOfMemory;
}

std::string MemoryCheck::words() const {
  return "needs " + bytes_in_words(needed, true) + "; " + bytes_in_words(available, false) +
         " are available";
}

MemoryCheck check_memory(const PointParameters& p, unsigned threads, std::uint64_t runs,
                         std::uint64_t available) {
  const SimulationMemory memory = simulation_memory(p, threads, runs);
  // The most workers n with n per_worker + (n - 1) stack <= available.
  const std::uint64_t step = saturating_sum(memory.per_worker, SimulationMemory::kThreadStack);
  const std::uint64_t fit =
      std::min(memory.workers, saturating_sum(available, SimulationMemory::kThreadStack) / step);
  if (fit == 0) return {0, memory.for_workers(1), available};
  return {static_cast<unsigned>(fit), memory.for_workers(fit), available};
}

std::string bytes_in_words(std::uint64_t bytes, bool round_up) {
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  std::size_t unit = 0;
  uint128 size = 1000;
  while (unit + 1 < std::size(units) && bytes >= size * 1000) ++unit, size *= 1000;
  // In tenths of the unit below 10 of it, else in whole units.
  const uint128 scale = bytes < size * 10 ? 10 : 1;
  const uint128 scaled = bytes * scale;
  const auto count =
      static_cast<std::uint64_t>(scaled / size + (round_up && scaled % size ? 1 : 0));
  std::string text = std::to_string(scale == 10 ? count / 10 : count);
  if (scale == 10 && count % 10 != 0) text += "." + std::to_string(count % 10);
  return text + " " + units[unit];
}

}  // namespace blocklevels::simulation
