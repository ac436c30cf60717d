// Point probabilities of K1 + K2 for independent K1 ~ Bin(n1, p1) and
// K2 ~ Bin(n2, p2), in O(n1 + n2) operations and without cancellation.
//
// The probabilities c_m, m = 0..N (N = n1 + n2), are the coefficients of
// (q1 + p1 z)^n1 (q2 + p2 z)^n2, which satisfy
//   (m + 1) q1 q2 c_{m+1} = A_m c_m + (N - m + 1) p1 p2 c_{m-1},
//   A_m = p1 q2 (n1 - m) + p2 q1 (n2 - m).
// A_m falls with m, so run upwards from c_0 the recurrence adds two
// non-negative terms as long as A_m >= 0; run downwards from c_N (the same
// recurrence with p and q exchanged on the reversed sequence) it does so
// from the other end down to the same point. The two runs start from 1
// instead of c_0 and c_N (which may lie below the extended range while the
// middle does not), carry a binary scale that keeps their values within
// 2^-8192..2^8192, are joined where both are valid, and are normalised to
// sum 1 by a sum of positive terms. Each value keeps its relative precision
// up to about 4 roundings per step from its end; only where it falls below
// the extended range does it become a denormal or 0. The coefficient A_m
// itself adds terms of opposite signs for m between n1 and n2; its rounding
// error is of the order of its larger term, which the step's other term
// outweighs near the sign change (measured: within 1e-16 of term-by-term
// sums, tests/block_state_model_test.cpp).
#pragma once

#include <cstdint>
#include <vector>

namespace blocklevels {

// Bin(n, p); q = 1 - p as the caller formed it without cancellation.
struct BinomialFactor {
  std::int32_t n = 0;
  long double p = 0;
  long double q = 1;
};

class BinomialConvolution {
 public:
  // Room for n1 + n2 <= n_max. Precondition: n_max >= 0.
  explicit BinomialConvolution(std::int32_t n_max);

  // out[m] = weight * P(K1 + K2 = m), m = 0..n1 + n2 (the weight taken into
  // the normalisation's factor). Preconditions: n >= 0, p >= 0, q >= 0 and
  // p + q = 1 for each factor, n1 + n2 <= n_max, weight > 0.
  void compute(const BinomialFactor& f1, const BinomialFactor& f2, long double weight,
               long double* out);

 private:
  std::int32_t run(const BinomialFactor& f1, const BinomialFactor& f2, bool upwards,
                   std::int32_t to, long double* values, std::int32_t* scales, long double& sum);
  std::int32_t run_both(const BinomialFactor& f1, const BinomialFactor& f2, long double* out);
  void single(const BinomialFactor& f, long double weight, long double* out);
  void join(std::int32_t n, std::int32_t joint, long double weight, long double* out);

  std::vector<long double> reciprocals_;  // 1 / (m + 1)
  // The upward run is written to the output, its scales here; the downward
  // one (index k for m = n - k) here with its scales.
  std::vector<std::int32_t> up_scales_;
  std::vector<long double> down_;
  std::vector<std::int32_t> down_scales_;
  long double up_sum_ = 0;    // of the upward values, while unscaled
  long double down_sum_ = 0;  // of the downward values above the joint
  bool scaled_ = false;       // a run left the range 2^-8192..2^8192 and was rescaled
};

}  // namespace blocklevels
