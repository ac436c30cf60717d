#include "study/study_memory.hpp"

#include <cmath>

#include "arithmetic/stop_numbers.hpp"
#include "errors/failure.hpp"
#include "study/run_settings.hpp"

namespace blocklevels {
namespace {

__extension__ typedef unsigned __int128 Bytes;

std::uint64_t saturated(Bytes v) {
  return v > ~std::uint64_t{0} ? ~std::uint64_t{0} : static_cast<std::uint64_t>(v);
}

}  // namespace

std::uint64_t simulation_bytes(const PointParameters& p) {
  // Each factor is below 2^43 (positions < 2^42, lambda and reports < 2^31)
  // and each product below 2^90: nothing overflows 128 bits.
  const Bytes lambda = static_cast<Bytes>(p.lambda), mu = static_cast<Bytes>(p.mu);
  const Bytes blocks = static_cast<Bytes>(p.blocks);
  const Bytes positions = blocks * static_cast<Bytes>(p.block_length);
  const Bytes reports = static_cast<Bytes>(report_count(p));
  Bytes bytes = 2 * mu * positions;            // alleles
  bytes += 2 * mu * blocks * 4 + 2 * mu * 4;   // wrong counts, slot levels
  bytes += 5 * mu * 4;                         // parent slots, free slots, scratch, selected
  bytes += 3 * lambda * 4 + (lambda + 1) * 8;  // parents, levels, ties; mutation ends
  // The mutation lists, reserved for a generation's expected count.
  const long double expected =
      std::ceil(static_cast<long double>(lambda) * static_cast<long double>(positions) * p.Pmut);
  bytes += expected >= 0x1p100L ? Bytes{1} << 100 : static_cast<Bytes>(expected) * 8;
  bytes += reports * (blocks + 1) * 24;  // a 64-bit sum and a 128-bit square per level
  return saturated(bytes);
}

std::string bytes_in_words(std::uint64_t bytes, bool round_up) {
  if (bytes < 1000) return std::to_string(bytes) + (bytes == 1 ? " byte" : " bytes");
  const char* const units[] = {"kB", "MB", "GB", "TB", "PB", "EB"};
  std::size_t unit = 0;
  Bytes size = 1000;
  while (unit + 1 < std::size(units) && bytes >= size * 1000) ++unit, size *= 1000;
  // In tenths of the unit below 10 of it, else in whole units.
  const Bytes scale = bytes < size * 10 ? 10 : 1;
  const Bytes scaled = static_cast<Bytes>(bytes) * scale;
  const auto count =
      static_cast<std::uint64_t>(scaled / size + (round_up && scaled % size ? 1 : 0));
  std::string text = std::to_string(scale == 10 ? count / 10 : count);
  if (scale == 10 && count % 10 != 0) text += "." + std::to_string(count % 10);
  return text + " " + units[unit];
}

std::optional<std::string> simulation_memory_refusal(const Point& point, std::int32_t runs,
                                                     std::uint64_t available,
                                                     std::string_view limit) {
  if (runs <= 0) return std::nullopt;
  const std::uint64_t needed = simulation_bytes(point.p);
  if (needed <= available) return std::nullopt;
  return "a simulated run needs " + bytes_in_words(needed, true) + "; " +
         bytes_in_words(available, false) + " are available (" + std::string(limit) + ")";
}

void check_study_memory(const Study& study, std::uint64_t available, std::string_view limit,
                        Spelling spelling) {
  for (const Point& point : study.points) {
    if (auto why = simulation_memory_refusal(point, study.simulate_runs, available, limit)) {
      throw Failure(kOutOfMemory, std::string(spelled(*find_setting("runs"), spelling)) + ": " +
                                      describe_point(point) + ": " + *why);
    }
  }
}

}  // namespace blocklevels
