#include "model/combinatorics.hpp"

#include "model/wrapping_int.hpp"

namespace blocklevels {

long double factorial(std::int32_t n) {
  long double result = 1.0L;
  for (std::int32_t i = 1; i <= n; ++i) result *= static_cast<long double>(i);
  return result;
}

long double binomial(std::int32_t n, std::int32_t k) {
  const long double f1 = factorial(n);
  const long double f2 = factorial(k);
  const long double f3 = factorial(wrapping_sub(n, k));
  return f1 / (f3 * f2);
}

long double int_power(std::uint16_t n, long double x) {
  long double result = 1.0L;
  for (unsigned i = 0; i < n; ++i) result = result * x;
  return result;
}

}  // namespace blocklevels
