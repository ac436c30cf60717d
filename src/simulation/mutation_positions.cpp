#include "simulation/mutation_positions.hpp"

#include <cmath>

namespace blocklevels::simulation {

// Above 1/2, 1 - p is exact (Sterbenz) and the library logarithm is accurate.
// Below, 1 - p would round away the digits of a small p, so the series
// ln(1 - p) = ln((1 - z) / (1 + z)) = -2 (z + z^3/3 + z^5/5 + ...) with
// z = p / (2 - p) <= 1/3 is summed until a term no longer changes the sum.
long double log_one_minus(long double p) {
  if (p > 0.5L) return std::log(1.0L - p);
  const long double z = p / (2.0L - p);
  const long double z2 = z * z;
  long double power = z;
  long double sum = 0.0L;
  for (long double odd = 1.0L;; odd += 2.0L) {
    const long double next = sum + power / odd;
    if (next == sum) break;
    sum = next;
    power *= z2;
  }
  return -2.0L * sum;
}

}  // namespace blocklevels::simulation
