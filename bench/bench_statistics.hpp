// The spread of the repetitions, next to the mean, median and standard
// deviation that every benchmark reports when run with repetitions.
#pragma once

#include <benchmark/benchmark.h>

#include <vector>

namespace blocklevels::bench {

inline double smallest(const std::vector<double>& v) {
  double m = v.empty() ? 0.0 : v.front();
  for (const double x : v) m = x < m ? x : m;
  return m;
}

inline double largest(const std::vector<double>& v) {
  double m = v.empty() ? 0.0 : v.front();
  for (const double x : v) m = x > m ? x : m;
  return m;
}

// For BENCHMARK(...)->Apply(with_spread).
inline void with_spread(benchmark::internal::Benchmark* b) {
  b->ComputeStatistics("min", smallest)->ComputeStatistics("max", largest);
}

}  // namespace blocklevels::bench
