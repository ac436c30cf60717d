#include "simulation/hitting_summary.hpp"

#include <algorithm>
#include <cmath>

#include "arithmetic/extended_arithmetic.hpp"

namespace blocklevels::simulation {
namespace {

// The 0.975 quantile of the standard normal distribution.
constexpr long double kZ = 1.959963984540054L;

// The first generation at which at least `share` of the n runs have
// reached the value (reached k of n with k >= share * n, compared exactly
// as k * denominator >= numerator * n), or none.
std::optional<std::int64_t> quantile(const HittingTimes& times, std::uint64_t n,
                                     std::uint64_t numerator, std::uint64_t denominator) {
  uint128 reached = 0;
  for (const auto& [t, runs] : times.first) {
    reached += runs;
    if (reached * denominator >= uint128{numerator} * n) return t;
  }
  return std::nullopt;
}

}  // namespace

HittingSummary summarize_hitting(const HittingTimes& times, std::int64_t final,
                                 std::int32_t lambda) {
  const ExtendedArithmetic arithmetic;
  HittingSummary s;
  // Why nothing overflows: generations and counts of runs are below 2^31,
  // so the sums of generations stay below 2^62 * 2^31 < 2^128.
  uint128 generations = 0;
  for (const auto& [t, runs] : times.first) {
    s.reached += runs;
    generations += static_cast<uint128>(t) * runs;
  }
  s.runs = s.reached + times.never;
  generations += static_cast<uint128>(final) * times.never;
  if (s.runs == 0) return s;
  const auto n = static_cast<long double>(s.runs);
  const long double p = static_cast<long double>(s.reached) / n;
  s.success_rate = static_cast<double>(p);
  // Wilson's interval: (p + z^2/2n +- z sqrt(p(1-p)/n + z^2/4n^2)) / (1 + z^2/n).
  const long double z2 = kZ * kZ;
  const long double centre = p + z2 / (2 * n);
  const long double spread = kZ * std::sqrt(p * (1 - p) / n + z2 / (4 * n * n));
  // In [0, 1], where rounding may put an end of 0 or 1 a hair outside.
  s.success_low = static_cast<double>(std::max(0.0L, (centre - spread) / (1 + z2 / n)));
  s.success_high = static_cast<double>(std::min(1.0L, (centre + spread) / (1 + z2 / n)));
  s.lower_quartile = quantile(times, s.runs, 1, 4);
  s.median = quantile(times, s.runs, 1, 2);
  s.upper_quartile = quantile(times, s.runs, 3, 4);
  s.restricted_mean = static_cast<double>(static_cast<long double>(generations) / n);
  if (s.reached > 0) {
    s.evaluations =
        static_cast<double>(static_cast<long double>(generations) *
                            static_cast<long double>(lambda) / static_cast<long double>(s.reached));
  }
  return s;
}

}  // namespace blocklevels::simulation
