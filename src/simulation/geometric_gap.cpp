#include "simulation/geometric_gap.hpp"

#include "simulation/random_draws.hpp"

namespace blocklevels::simulation {

GeometricGap::GeometricGap(long double log_keep) : log_keep_(log_keep) {
  const auto rounded = static_cast<double>(log_keep);
  if (rounded <= -0x1p-1000) {
    inverse_ = 1.0 / rounded;
    absolute_margin_ = 0x1p-46 / -rounded;
    fast_limit_ = 0x1p52;
  }
}

// logl is evaluated by the x87 logarithm instructions on x86-64 whichever C
// library provides it, so the gaps do not depend on the library.
Gap GeometricGap::literal(std::uint64_t k) const {
  const long double q = std::log(open_closed_unit(k)) / log_keep_;
  const bool mutates = q < kLongestGap;
  return {static_cast<std::uint64_t>(mutates ? q : kLongestGap), mutates};
}

}  // namespace blocklevels::simulation
