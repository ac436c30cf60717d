// The length of a geometric gap between mutated positions, from 64 uniform
// bits k: U = (k + 1) 2^-64 on (0, 1], and the gap is floor(q) for
//   q = RN64(RN64(logl(U)) / L),  L = ln(1 - pmut) < 0,
// in extended precision, logl by the x87 logarithm instructions: the literal
// definition, which every run's totals have always depended on. Only the
// floor of q matters, so most gaps are found from a double-precision
// logarithm instead, with a proven bound on how far its quotient qd can be
// from q; where qd lies within that bound of an integer (or beyond 2^52,
// short of which the long-gap limit 2^62 is never reached) the literal q is
// evaluated. Every gap is the literal one.
//
// The bound. With u = (k + 1) 2^-64 exact and q* = ln(u) / L exact,
// rounding in any direction (each basic operation off by at most 2^-52 of
// its result; 2^-53 when rounding to nearest):
//   ud = RN(u) = u (1 + d1)                    |d1| <= 2^-52
//   log(ud) = ln(ud) (1 + d2)                  |d2| <= 2^-52 (the library's
//       logarithm within 1 ulp; glibc's is within 0.52 ulp when rounding to
//       nearest; the logarithm test checks it)
//   ln(ud) = ln(u) + e, e = ln(1 + d1)         |e| <= 2^-52 (1 + 2^-51)
//   Ld = RN(L) (1 + d3), inv = RN(1 / Ld)      |d3|, |d4| <= 2^-52
//       = (1 / L) (1 + d3)^-1 (1 + d4)
//   qd = RN(log(ud) * inv) ( * (1 + d5))       |d5| <= 2^-52
// so that |qd - q*| <= 2^-50 (1 + 2^-9) |q*| + 2^-52 (1 + 2^-48) / |L|.
// The literal side: logl within 8 ulps of the 64-bit significand (2^-60
// of its result; the x87 instructions are within one) and the quotient
// rounded once give |q - q*| <= 2^-59.9 |q*|. Together, with q* <= qd (1 + 2^-49) + 2^-51 / |L|:
//   |qd - q| <= 2^-49.99 qd + 2^-51.9 / |L|.
// The margin taken is m = 2^-44 qd + 2^-46 / |Ld|, more than 2^5.9 times
// that, so that a logarithm 50 ulps off is still caught; it also covers
// rounding of m itself and of the differences it is compared with: qd - n is
// exact for n = floor(qd), n + 1 - qd is exact from 1 on (Sterbenz) and off
// by at most 2^-53 below, which the absolute part, at least 2^-46 / 44.4
// (|L| <= 64 ln 2 since 1 - pmut >= 2^-64 in extended), leaves room for.
// When qd - n > m and n + 1 - qd > m, q lies strictly between n and n + 1,
// and floor(q) = n.
#pragma once

#include <cmath>
#include <cstdint>

namespace blocklevels::simulation {

struct Gap {
  std::uint64_t length = 0;  // positions skipped: floor(q), or the long-gap limit
  bool mutates = true;       // false when q reached the long-gap limit
};

class GeometricGap {
 public:
  // A gap this long is not drawn in full (see MutationPositions).
  static constexpr long double kLongestGap = 0x1p62L;

  // log_keep = L < 0. A |L| below 2^-1000 (a pmut whose double quotient
  // could overflow) takes the literal gap every time.
  explicit GeometricGap(long double log_keep);

  // The gap for the 64 bits k.
  Gap operator()(std::uint64_t k) {
    // RN(k + 1) 2^-64: the two halves are exact doubles, the sum is rounded
    // once (to 1 when k + 1 = 2^64), and no conversion is of an unsigned value.
    const auto high = static_cast<double>(static_cast<std::int64_t>(k >> 32));
    const auto low = static_cast<double>(static_cast<std::int64_t>((k & 0xffffffffU) + 1));
    const double u = (high * 0x1p32 + low) * 0x1p-64;
    const double q = std::log(u) * inverse_;
    if (q < fast_limit_) {
      // q >= 0 here (ln u <= 0, inverse_ < 0), and below 2^52, so the cast
      // is floor(q) and n + 1 is exact.
      const auto n = static_cast<double>(static_cast<std::int64_t>(q));
      const double margin = q * 0x1p-44 + absolute_margin_;
      if (q - n > margin && (n + 1.0) - q > margin) {
        return {static_cast<std::uint64_t>(n), true};
      }
    }
    ++fallbacks_;
    return literal(k);
  }

  // The literal gap, as defined above.
  Gap literal(std::uint64_t k) const;

  // How many gaps took the literal evaluation.
  std::uint64_t fallbacks() const { return fallbacks_; }

 private:
  long double log_keep_;
  double inverse_ = 0.0;          // RN(1 / RN(L))
  double absolute_margin_ = 0.0;  // 2^-46 / |RN(L)|
  double fast_limit_ = 0.0;       // 2^52, or 0 when every gap is literal
  std::uint64_t fallbacks_ = 0;
};

}  // namespace blocklevels::simulation
