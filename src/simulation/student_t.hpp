// The 0.975 quantile of Student's t distribution, the factor of a two-sided
// 95 % confidence interval.
#pragma once

#include <cstdint>

namespace blocklevels::simulation {

// For degrees_of_freedom >= 1; accurate to better than 1e-9.
long double student_t_975(std::uint64_t degrees_of_freedom);

}  // namespace blocklevels::simulation
