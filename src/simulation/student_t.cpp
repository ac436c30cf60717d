#include "simulation/student_t.hpp"

#include <cassert>
#include <cmath>

namespace blocklevels::simulation {

namespace {

constexpr long double kPi = 3.141592653589793238462643383279502884L;
constexpr long double kZ975 = 1.959963984540054235524594430520L;  // the normal quantile

// Up to this many degrees of freedom the quantile is solved from the exact
// distribution; beyond, the expansion's first omitted term is below 1e-10.
constexpr std::uint64_t kExactUpTo = 100;

// P(|T| <= t) for nu degrees of freedom, by the closed forms for integer nu
// with c = cos(theta), s = sin(theta), theta = atan(t / sqrt(nu)):
//   nu odd:  (2 / pi) (theta + s (c + 2/3 c^3 + (2 4)/(3 5) c^5 + ... up to c^(nu-2)))
//   nu even: s (1 + 1/2 c^2 + (1 3)/(2 4) c^4 + ... up to c^(nu-2))
long double central_probability(long double t, std::uint64_t nu) {
  const auto n = static_cast<long double>(nu);
  const long double r = std::sqrt(n + t * t);
  const long double c = std::sqrt(n) / r;
  const long double s = t / r;
  const bool odd = nu % 2 == 1;
  long double term = odd ? c : 1.0L;
  long double sum = 0.0L;
  for (std::uint64_t k = odd ? 1 : 0; k + 2 <= nu; k += 2) {
    sum += term;
    const auto kk = static_cast<long double>(k);
    term *= c * c * (kk + 1.0L) / (kk + 2.0L);
  }
  if (!odd) return s * sum;
  return 2.0L / kPi * (std::atan2(t, std::sqrt(n)) + s * sum);
}

// The Cornish-Fisher expansion in 1 / nu to the fourth order.
long double expansion(std::uint64_t nu) {
  const long double z = kZ975;
  const long double z2 = z * z;
  const long double g1 = z * (z2 + 1.0L) / 4.0L;
  const long double g2 = z * ((5.0L * z2 + 16.0L) * z2 + 3.0L) / 96.0L;
  const long double g3 = z * (((3.0L * z2 + 19.0L) * z2 + 17.0L) * z2 - 15.0L) / 384.0L;
  const long double g4 =
      z * ((((79.0L * z2 + 776.0L) * z2 + 1482.0L) * z2 - 1920.0L) * z2 - 945.0L) / 92160.0L;
  const long double v = 1.0L / static_cast<long double>(nu);
  return z + v * (g1 + v * (g2 + v * (g3 + v * g4)));
}

}  // namespace

long double student_t_975(std::uint64_t degrees_of_freedom) {
  assert(degrees_of_freedom >= 1);
  if (degrees_of_freedom > kExactUpTo) return expansion(degrees_of_freedom);
  // Bisection on the increasing central probability, until the bracket
  // cannot shrink any further in long double.
  long double low = 0.0L;
  long double high = 16.0L;  // above the quantile for one degree of freedom, 12.71
  for (;;) {
    const long double middle = (low + high) / 2.0L;
    if (middle <= low || middle >= high) return middle;
    (central_probability(middle, degrees_of_freedom) < 0.95L ? low : high) = middle;
  }
}

}  // namespace blocklevels::simulation
