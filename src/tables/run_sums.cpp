#include "tables/run_sums.hpp"

namespace blocklevels {

using simulation::uint128;

bool sums_of_runs(const simulation::RunTotals& totals, const PointParameters& p) {
  const uint128 n = totals.runs();
  if (n > UINT32_MAX) return false;
  uint128 level = 0;
  for (std::int32_t j = 0; j <= totals.blocks(); ++j) {
    const uint128 most =
        static_cast<uint128>(p.lambda) * (j == 0 ? static_cast<uint128>(p.blocks) : 1);
    const uint128 sum = j == 0 ? totals.sum_level(0) : totals.sum_at_least(0, j);
    const uint128 squares =
        j == 0 ? totals.sum_level_squared(0) : totals.sum_at_least_squared(0, j);
    // No product overflows: n < 2^32 and most < 2^42; a sum below 2^64 has
    // a square below 2^128, compared with q as q >= ceil(s^2 / n).
    if (sum > n * most || squares > sum * most) return false;
    if (n == 0) continue;  // every sum 0, as the line above required
    const uint128 square = sum * sum;
    if (squares < square / n + (square % n != 0 ? 1 : 0)) return false;
    if (j >= 1) level += sum;
    if (j >= 2 && sum > totals.sum_at_least(0, j - 1)) return false;
  }
  return level == totals.sum_level(0);
}

}  // namespace blocklevels
