#include "model/level_matrix.hpp"

#include <cmath>

#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {
namespace {

// Halfway between the largest double and 2^1024: from here on, rounding to
// double overflows (the largest double's significand is odd, so the tie
// rounds up). Exact in extended precision.
constexpr long double kDoubleOverflowThreshold = 0x1.fffffffffffff8p1023L;

}  // namespace

double round_to_double_or_stop(long double value) {
  const long double magnitude = std::fabs(value);
  if (magnitude >= kDoubleOverflowThreshold && !std::isinf(magnitude)) {
    throw_stop(kFloatOverflow);
  }
  return static_cast<double>(value);
}

}  // namespace blocklevels
