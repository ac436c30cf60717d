// Point probabilities of binomial distributions Bin(n, p), n = 0..n_max, by
// Pascal's rule: row n from row n - 1 as
//   P_n(k) = p * P_{n-1}(k - 1) + q * P_{n-1}(k),
// a sum of two non-negative terms, so that every entry, however small, keeps
// its relative precision (about n roundings); a value below the extended
// range underflows to a denormal or 0. q = 1 - p is the caller's, formed
// where it can be formed without cancellation.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace blocklevels {

class BinomialRows {
 public:
  BinomialRows() = default;
  // Preconditions: n_max >= 0, p >= 0, q >= 0.
  BinomialRows(std::int32_t n_max, long double p, long double q);

  std::int32_t n_max() const { return n_max_; }
  // P(Bin(n, p) = k) for 0 <= k <= n <= n_max.
  long double at(std::int32_t n, std::int32_t k) const { return values_[offset(n) + index(k)]; }
  // Row n: its n + 1 values.
  const long double* row(std::int32_t n) const { return values_.data() + offset(n); }

 private:
  static std::size_t index(std::int32_t k) { return static_cast<std::size_t>(k); }
  static std::size_t offset(std::int32_t n) {
    const auto m = static_cast<std::size_t>(n);
    return m * (m + 1) / 2;
  }

  std::int32_t n_max_ = -1;
  std::vector<long double> values_;  // row n at n (n + 1) / 2
};

}  // namespace blocklevels
