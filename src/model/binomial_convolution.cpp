#include "model/binomial_convolution.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace blocklevels {
namespace {

constexpr std::int32_t kScaleStep = 8192;
constexpr long double kHigh = 0x1p8192L;
constexpr long double kLow = 0x1p-8192L;
// A join ratio within these bounds keeps every joined value below 2^16192.
constexpr long double kRatioHigh = 0x1p8000L;
constexpr long double kRatioLow = 0x1p-8000L;

std::size_t at(std::int32_t m) {
  return static_cast<std::size_t>(m);
}

// Where a factor that is not random puts all its mass.
std::int32_t point_of(const BinomialFactor& f) {
  return f.n == 0 || f.p == 0 ? 0 : f.n;
}

bool is_point(const BinomialFactor& f) {
  return f.n == 0 || f.p == 0 || f.q == 0;
}

// Keeps the pair (current, previous) of a scaled run within range: both are
// multiplied by the same power of two, and `scale` counts it.
inline void rescale(long double& current, long double& previous, std::int32_t& scale,
                    bool& scaled) {
  if (current > kHigh) {
    current *= kLow;
    previous *= kLow;
    scale += kScaleStep;
    scaled = true;
  } else if (current < kLow) {
    current *= kHigh;
    previous *= kHigh;
    scale -= kScaleStep;
    scaled = true;
  }
}

// values[m] * 2^scales[m], m = 0..n, brought to the largest one's scale
// (where the smallest may become denormal or 0) and normalised to sum 1.
template <class ValueAndScale>
void normalise_scaled(std::int32_t n, long double weight, long double* out,
                      ValueAndScale value_and_scale) {
  std::int64_t top = std::numeric_limits<std::int64_t>::min();
  for (std::int32_t m = 0; m <= n; ++m) {
    std::int64_t scale = 0;
    const long double v = value_and_scale(m, scale);
    if (v > 0) top = std::max(top, scale + std::ilogb(v));
  }
  long double sum = 0;
  for (std::int32_t m = 0; m <= n; ++m) {
    std::int64_t scale = 0;
    const long double v = value_and_scale(m, scale);
    out[at(m)] = std::ldexp(v, static_cast<int>(std::max<std::int64_t>(scale - top, -40000)));
    sum += out[at(m)];
  }
  const long double inverse = weight / sum;
  for (std::int32_t m = 0; m <= n; ++m) out[at(m)] *= inverse;
}

}  // namespace

BinomialConvolution::BinomialConvolution(std::int32_t n_max)
    : reciprocals_(at(n_max) + 1),
      up_scales_(at(n_max) + 1),
      down_(at(n_max) + 1),
      down_scales_(at(n_max) + 1) {
  for (std::int32_t m = 0; m <= n_max; ++m) reciprocals_[at(m)] = 1.0L / (m + 1);
}

// One inward run of the recurrence
//   c_{j+1} = (hi (n1 - j) + lo (n2 - j)) / ((j + 1) qq) c_j
//           + (n - j + 1) bb / ((j + 1) qq) c_{j-1},
// upwards with hi = p1 q2, lo = p2 q1, bb = p1 p2, qq = q1 q2, downwards on
// the reversed sequence with p and q exchanged. It writes values[j] and
// scales[j] (values[j] * 2^scales[j] = c_j / c_0) for j = 1..last and adds
// the values it writes (the last one not) to `sum`. Without `to`, it stops
// before the first step whose first coefficient is negative, where its
// terms would no longer all be non-negative; with it, it runs to j = to.
std::int32_t BinomialConvolution::run(const BinomialFactor& f1, const BinomialFactor& f2,
                                      bool upwards, std::int32_t to, long double* values,
                                      std::int32_t* scales, long double& sum) {
  const std::int32_t n = f1.n + f2.n;
  const long double p1 = upwards ? f1.p : f1.q, q1 = upwards ? f1.q : f1.p;
  const long double p2 = upwards ? f2.p : f2.q, q2 = upwards ? f2.q : f2.p;
  const long double inverse_qq = 1.0L / (q1 * q2);
  const long double hi = p1 * q2 * inverse_qq;
  const long double lo = p2 * q1 * inverse_qq;
  const long double bb = p1 * p2 * inverse_qq;
  long double previous = 0;
  long double current = 1;
  std::int32_t scale = 0;
  values[0] = current;
  scales[0] = 0;
  // The counts n1 - j, n2 - j and n - j + 1 as exact extended integers.
  long double left1 = static_cast<long double>(f1.n);
  long double left2 = static_cast<long double>(f2.n);
  long double above = static_cast<long double>(n + 1);
  const std::int32_t end = to < 0 ? n : to;
  std::int32_t j = 0;
  for (; j < end; ++j, left1 -= 1, left2 -= 1, above -= 1) {
    const long double a = hi * left1 + lo * left2;
    if (a < 0 && to < 0) break;
    const long double reciprocal = reciprocals_[at(j)];
    sum += current;
    const long double next = (a * reciprocal) * current + (above * bb * reciprocal) * previous;
    previous = current;
    current = next;
    rescale(current, previous, scale, scaled_);
    values[at(j + 1)] = current;
    scales[at(j + 1)] = scale;
  }
  return j;
}

// The downward run first, to its natural end, the joint; then the upward
// one to the joint. The upward coefficient A_m = p1 q2 (n1 - m) +
// p2 q1 (n2 - m) and the downward A'_k = q1 p2 (n1 - k) + q2 p1 (n2 - k)
// add up to n (p1 q2 + p2 q1) at k = n - m, so A'_k >= 0 for k up to
// n - m1 and A_m >= 0 for m up to m1, m1 = (n1 p1 q2 + n2 p2 q1) /
// (p1 q2 + p2 q1): the runs meet with non-negative terms on both sides (a
// rounding that moves a sign change by one step gives one coefficient
// that is negative by a rounding error, harmless). Both factors are random
// (n >= 1, p > 0, q > 0), so no divisor is 0.
std::int32_t BinomialConvolution::run_both(const BinomialFactor& f1, const BinomialFactor& f2,
                                           long double* out) {
  const std::int32_t n = f1.n + f2.n;
  down_sum_ = 0;
  const std::int32_t down_last =
      run(f1, f2, false, -1, down_.data(), down_scales_.data(), down_sum_);
  const std::int32_t joint = n - down_last;
  up_sum_ = 0;
  run(f1, f2, true, joint, out, up_scales_.data(), up_sum_);
  up_sum_ += out[at(joint)];
  return joint;
}

// The upward values up to `joint`, the downward ones above it, the latter
// brought to the former's scale by their ratio at the joint.
void BinomialConvolution::join(std::int32_t n, std::int32_t joint, long double weight,
                               long double* out) {
  const long double up_joint = out[at(joint)];
  const long double down_joint = down_[at(n - joint)];
  const long double ratio = up_joint / down_joint;
  if (!scaled_ && ratio >= kRatioLow && ratio <= kRatioHigh) {
    const long double inverse = weight / (up_sum_ + ratio * down_sum_);
    for (std::int32_t m = 0; m <= joint; ++m) out[at(m)] *= inverse;
    const long double down_factor = ratio * inverse;
    for (std::int32_t m = joint + 1; m <= n; ++m) out[at(m)] = down_[at(n - m)] * down_factor;
    return;
  }
  int up_exponent = 0, down_exponent = 0;
  const long double mantissa_ratio =
      std::frexp(up_joint, &up_exponent) / std::frexp(down_joint, &down_exponent);
  const std::int64_t ratio_scale = static_cast<std::int64_t>(up_scales_[at(joint)]) + up_exponent -
                                   down_scales_[at(n - joint)] - down_exponent;
  // The upward values are read before their places are overwritten: a
  // value's place is written in the second pass only, in increasing m, and
  // each read of the second pass is of its own place.
  normalise_scaled(n, weight, out, [&](std::int32_t m, std::int64_t& scale) {
    if (m <= joint) {
      scale = up_scales_[at(m)];
      return out[at(m)];
    }
    scale = down_scales_[at(n - m)] + ratio_scale;
    return down_[at(n - m)] * mantissa_ratio;
  });
}

// One random factor: the two-term recurrence c_{k+1} = c_k (n - k) p /
// ((k + 1) q), upwards from c_0.
void BinomialConvolution::single(const BinomialFactor& f, long double weight, long double* out) {
  long double previous = 0;
  long double current = 1;
  long double sum = current;
  std::int32_t scale = 0;
  out[0] = current;
  up_scales_[0] = 0;
  const long double odds = f.p / f.q;
  for (std::int32_t k = 0; k < f.n; ++k) {
    current = current * static_cast<long double>(f.n - k) * reciprocals_[at(k)] * odds;
    rescale(current, previous, scale, scaled_);
    out[at(k + 1)] = current;
    up_scales_[at(k + 1)] = scale;
    sum += current;
  }
  if (!scaled_) {
    const long double inverse = weight / sum;
    for (std::int32_t k = 0; k <= f.n; ++k) out[at(k)] *= inverse;
    return;
  }
  normalise_scaled(f.n, weight, out, [&](std::int32_t k, std::int64_t& s) {
    s = up_scales_[at(k)];
    return out[at(k)];
  });
}

void BinomialConvolution::compute(const BinomialFactor& f1, const BinomialFactor& f2,
                                  long double weight, long double* out) {
  const std::int32_t n = f1.n + f2.n;
  const bool point1 = is_point(f1);
  const bool point2 = is_point(f2);
  scaled_ = false;
  if (point1 || point2) {
    std::fill(out, out + n + 1, 0.0L);
    if (point1 && point2) {
      out[at(point_of(f1) + point_of(f2))] = weight;
    } else {
      single(point1 ? f2 : f1, weight, out + point_of(point1 ? f1 : f2));
    }
    return;
  }
  join(n, run_both(f1, f2, out), weight, out);
}

}  // namespace blocklevels
