#include "model/binomial_rows.hpp"

namespace blocklevels {

BinomialRows::BinomialRows(std::int32_t n_max, long double p, long double q)
    : n_max_(n_max), values_(offset(n_max + 1)) {
  values_[0] = 1.0L;
  for (std::int32_t n = 1; n <= n_max; ++n) {
    const long double* previous = row(n - 1);
    long double* current = values_.data() + offset(n);
    current[0] = q * previous[0];
    for (std::int32_t k = 1; k < n; ++k) {
      current[index(k)] = p * previous[index(k - 1)] + q * previous[index(k)];
    }
    current[index(n)] = p * previous[index(n - 1)];
  }
}

}  // namespace blocklevels
