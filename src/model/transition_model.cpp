#include "model/transition_model.hpp"

#include <cmath>
#include <vector>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "arithmetic/wrapping_int.hpp"
#include "model/int_power.hpp"

namespace blocklevels {
namespace {

// Throws the stop of the first floating-point failure of a stage of the
// build. Within a stage an overflow, when there is one, comes first: the
// stage's operands are finite, or infinite only where Pmut itself is
// infinite (which raises no flag). From finite operands only an overflow
// can fail (the one division, a quotient of factorials, has a divisor of at
// least 1), and an invalid operation needs the infinity an overflow made.
// From an infinite Pmut with every earlier stage clean, every power is 0, 1
// or infinite and every finite value is a binomial coefficient below 10^527
// or a sum or product of two such, so nothing overflows and only an invalid
// operation (infinity minus infinity, infinity times 0) can fail.
[[gnu::always_inline]] inline void stop_on_raised_flags() {
  const RaisedFlags raised = raised_flags();
  if (raised.overflow) throw_stop(kFloatOverflow);
  if (raised.invalid) throw_stop(kInvalidOperation);
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
}

// base^0, base^1, ..., base^top, each from the previous one by one
// multiplication with the running result on the left: bit for bit the values
// int_power computes. Empty when top < 0.
std::vector<long double> powers_up_to(long double base, std::int32_t top) {
  std::vector<long double> powers;
  if (top < 0) return powers;
  powers.resize(static_cast<std::size_t>(top) + 1);
  long double running = 1.0L;
  powers[0] = running;
  for (std::size_t n = 1; n < powers.size(); ++n) {
    running = running * base;
    powers[n] = running;
  }
  return powers;
}

// 0!, 1!, ..., top!, each from the previous one by one multiplication: bit
// for bit the values factorial computes.
std::vector<long double> factorials_up_to(std::int32_t top) {
  std::vector<long double> factorials(static_cast<std::size_t>(top) + 1);
  long double running = 1.0L;
  factorials[0] = running;
  for (std::size_t n = 1; n < factorials.size(); ++n) {
    running *= static_cast<long double>(n);
    factorials[n] = running;
  }
  return factorials;
}

// The sums of one parent level i. Only the terms the literal evaluation
// forms are formed, so a power or product that would overflow there
// overflows here, and none that would not.
class ParentLevelSums {
 public:
  // The factorials come first: 1755! overflows, and a run with that many
  // blocks stops there, before the powers, as the literal evaluation does.
  // The exponents used: a^k for k <= l; na^(l-i-k), pbreak^r, pkeep_up^(i-r)
  // up to l - 1; pkeep_down^(i-r) up to l (row l, r = 0).
  ParentLevelSums(const MutationConstants& constants, std::int32_t l)
      : l_(l),
        factorials_(factorials_up_to(l)),
        a_(powers_up_to(constants.a, l)),
        na_(powers_up_to(constants.na, l - 1)),
        pbreak_down_(powers_up_to(constants.pbreak_down, l - 1)),
        pkeep_down_(powers_up_to(constants.pkeep_down, l)),
        pbreak_up_(powers_up_to(constants.pbreak_up, l - 1)),
        pkeep_up_(powers_up_to(constants.pkeep_up, l - 1)),
        outer_(static_cast<std::size_t>(l) + 1),
        down_prefix_(static_cast<std::size_t>(l) + 1),
        up_outer_(static_cast<std::size_t>(l) + 1),
        up_inner_(static_cast<std::size_t>(l) + 2) {}

  // Forms the terms and inner sums of parent level i, 0 <= i <= l.
  void prepare(std::int32_t i) {
    i_ = i;
    form_completion_terms();
    if (i >= 1) prefix_sums_of_survival_terms();
    if (i < l_) {
      form_breaking_terms();
      suffix_sums_by_lower_bound();
    }
  }

  // P(level >= j | parent level i) for j = 1..i into values[j]. Three
  // consecutive j at a time keep three independent sums in flight; each adds
  // its own products in the literal order (k upward, from 0). Sum n of a
  // group uses the inner bound i - j - n + k, which reaches i from k = j + n
  // on: below k = j no bound is clamped (a sliding window over the prefix
  // sums serves all three), from k = j + 2 on all three multiply by the same
  // full prefix sum, so the product is formed once.
  void down(long double* values) const {
    const std::int32_t free_blocks = l_ - i_;
    const long double full = down_prefix_[at(i_)];
    std::int32_t j = 1;
    for (; j + 2 <= i_; j += 3) {
      long double s0 = 0.0L, s1 = 0.0L, s2 = 0.0L;
      const std::int32_t unclamped_end = j <= free_blocks + 1 ? j : free_blocks + 1;
      std::int32_t k = 0;
      if (unclamped_end > 0) {
        // prefix[k - n] is sum n's factor; 0 <= i - j - 2, so prefix[-2] exists.
        const long double* prefix = &down_prefix_[at(i_ - j)];
        long double behind1 = prefix[-1], behind2 = prefix[-2];
        for (; k < unclamped_end; ++k) {
          const long double t = outer_[at(k)];
          const long double current = prefix[k];
          s0 = s0 + t * current;
          s1 = s1 + t * behind1;
          s2 = s2 + t * behind2;
          behind2 = behind1;
          behind1 = current;
        }
      }
      const std::int32_t mixed_end = j + 2 <= free_blocks + 1 ? j + 2 : free_blocks + 1;
      for (; k < mixed_end; ++k) {
        const long double t = outer_[at(k)];
        s0 = s0 + t * down_prefix_[at(clamped_index(i_ - j + k))];
        s1 = s1 + t * down_prefix_[at(clamped_index(i_ - j - 1 + k))];
        s2 = s2 + t * down_prefix_[at(clamped_index(i_ - j - 2 + k))];
      }
      for (; k <= free_blocks; ++k) {
        const long double product = outer_[at(k)] * full;
        s0 = s0 + product;
        s1 = s1 + product;
        s2 = s2 + product;
      }
      values[j] = s0;
      values[j + 1] = s1;
      values[j + 2] = s2;
    }
    for (; j <= i_; ++j) {
      long double sum = 0.0L;
      for (std::int32_t k = 0; k <= free_blocks; ++k) {
        sum = sum + outer_[at(k)] * down_prefix_[at(clamped_index(i_ - j + k))];
      }
      values[j] = sum;
    }
  }

  // P(level >= j | parent level i) for j = i+1..l into values[j], three j
  // at a time like down(). The inner lower bound j + n - i + r passes l - i
  // from some r on; there the inner sum is empty and the product is u * 0.
  // Adding a zero leaves a sum's bits as they are (a sum that starts at +0
  // never becomes -0), so those products are skipped when every u is
  // finite; an infinite u must still form its invalid u * 0.
  void up(long double* values) const {
    std::int32_t j = i_ + 1;
    for (; j + 2 <= l_; j += 3) {
      long double s0 = 0.0L, s1 = 0.0L, s2 = 0.0L;
      // Every bound of the group lies within l - i while r <= l - j - 2.
      const std::int32_t within = l_ - j - 2 + 1;
      const std::int32_t unclamped_end = within < i_ + 1 ? within : i_ + 1;
      std::int32_t r = 0;
      if (unclamped_end > 0) {
        // inner[r + n] is sum n's factor: a window sliding forward.
        const long double* inner = &up_inner_[at(j - i_)];
        long double ahead0 = inner[0], ahead1 = inner[1];
        for (; r < unclamped_end; ++r) {
          const long double u = up_outer_[at(r)];
          const long double ahead2 = inner[r + 2];
          s0 = s0 + u * ahead0;
          s1 = s1 + u * ahead1;
          s2 = s2 + u * ahead2;
          ahead0 = ahead1;
          ahead1 = ahead2;
        }
      }
      const std::int32_t mixed_end =
          up_outer_finite_ ? (unclamped_end > 0 ? unclamped_end : 0) + 2 : i_ + 1;
      for (; r < mixed_end && r <= i_; ++r) {
        const long double u = up_outer_[at(r)];
        s0 = s0 + u * up_inner_[at(lower_bound(j - i_ + r))];
        s1 = s1 + u * up_inner_[at(lower_bound(j + 1 - i_ + r))];
        s2 = s2 + u * up_inner_[at(lower_bound(j + 2 - i_ + r))];
      }
      values[j] = s0;
      values[j + 1] = s1;
      values[j + 2] = s2;
    }
    for (; j <= l_; ++j) {
      long double sum = 0.0L;
      for (std::int32_t r = 0; r <= i_; ++r) {
        sum = sum + up_outer_[at(r)] * up_inner_[at(lower_bound(j - i_ + r))];
      }
      values[j] = sum;
    }
  }

 private:
  // t(i, k): every k for the lower triangle, k >= 1 for the upper one; row 0
  // has no lower triangle.
  void form_completion_terms() {
    const std::int32_t free_blocks = l_ - i_;
    for (std::int32_t k = i_ == 0 ? 1 : 0; k <= free_blocks; ++k) {
      outer_[at(k)] = (a_[at(k)] * binomial_of(free_blocks, k)) * na_[at(free_blocks - k)];
    }
  }

  // down_prefix_[m] = d(i, 0) + ... + d(i, m), accumulated from 0 like the
  // literal inner loop; row l only reaches m = l - 1.
  void prefix_sums_of_survival_terms() {
    const std::int32_t top = i_ == l_ ? i_ - 1 : i_;
    long double inner = 0.0L;
    for (std::int32_t r = 0; r <= top; ++r) {
      inner = inner + (pbreak_down_[at(r)] * binomial_of(i_, r)) * pkeep_down_[at(i_ - r)];
      down_prefix_[at(r)] = inner;
    }
  }

  // u(i, r) for r = 0..i, and whether all are finite (see up()).
  void form_breaking_terms() {
    up_outer_finite_ = true;
    for (std::int32_t r = 0; r <= i_; ++r) {
      up_outer_[at(r)] = (pbreak_up_[at(r)] * binomial_of(i_, r)) * pkeep_up_[at(i_ - r)];
      up_outer_finite_ = up_outer_finite_ && std::isfinite(up_outer_[at(r)]);
    }
  }

  // up_inner_[k0] = t(i, k0) + ... + t(i, l - i), added from k0 upward
  // starting at 0, as the literal inner loop adds them; 0 at l - i + 1 (an
  // empty inner loop). kSums bounds at a time keep independent sums in
  // flight (they fit the x87 register stack with the term); each still adds
  // its own terms in the same order.
  void suffix_sums_by_lower_bound() {
    constexpr std::int32_t kSums = 6;
    const std::int32_t free_blocks = l_ - i_;
    std::int32_t k0 = 1;
    for (; k0 + kSums - 1 <= free_blocks; k0 += kSums) {
      // Fully unrolled, so that the sums live in registers.
      long double s[kSums] = {};
      // The first terms reach only the sums whose bound they have passed.
#pragma GCC unroll 6
      for (std::int32_t n = 0; n < kSums - 1; ++n) {
#pragma GCC unroll 6
        for (std::int32_t m = 0; m <= n; ++m) s[m] = s[m] + outer_[at(k0 + n)];
      }
      for (std::int32_t k = k0 + kSums - 1; k <= free_blocks; ++k) {
        const long double term = outer_[at(k)];
#pragma GCC unroll 6
        for (std::int32_t m = 0; m < kSums; ++m) s[m] = s[m] + term;
      }
#pragma GCC unroll 6
      for (std::int32_t m = 0; m < kSums; ++m) up_inner_[at(k0 + m)] = s[m];
    }
    for (; k0 <= free_blocks; ++k0) {
      long double s = 0.0L;
      for (std::int32_t k = k0; k <= free_blocks; ++k) s = s + outer_[at(k)];
      up_inner_[at(k0)] = s;
    }
    up_inner_[at(free_blocks + 1)] = 0.0L;
  }

  static std::size_t at(std::int32_t index) {
    return static_cast<std::size_t>(index);
  }

  // The inner bound of down: m = i - j + k, at most i.
  std::int32_t clamped_index(std::int32_t m) const {
    return m > i_ ? i_ : m;
  }
  // The inner lower bound of up: k0 = j - i + r; past l - i the inner sum is
  // empty, which up_inner_ holds as 0 at l - i + 1.
  std::int32_t lower_bound(std::int32_t k0) const {
    return k0 > l_ - i_ ? l_ - i_ + 1 : k0;
  }

  // The binomial coefficient's expression, factorial(n) / (factorial(n - k) *
  // factorial(k)), from the table. 0 <= k <= n <= l.
  long double binomial_of(std::int32_t n, std::int32_t k) const {
    return factorials_[at(n)] / (factorials_[at(n - k)] * factorials_[at(k)]);
  }

  std::int32_t l_;
  std::int32_t i_ = 0;
  std::vector<long double> factorials_;
  std::vector<long double> a_, na_, pbreak_down_, pkeep_down_, pbreak_up_, pkeep_up_;
  std::vector<long double> outer_;        // t(i, k)
  std::vector<long double> down_prefix_;  // sum of d(i, r) for r = 0..m
  std::vector<long double> up_outer_;     // u(i, r)
  std::vector<long double> up_inner_;     // sum of t(i, k) for k = k0..l-i
  bool up_outer_finite_ = true;
};

}  // namespace

MutationConstants mutation_constants(long double x, std::int32_t b, std::int32_t acc) {
  MutationConstants c;
  c.q = 1 - x;
  c.a = acc > 0 ? (x * 2) / 3 : x / 3;
  c.na = 1 - c.a;
  if (acc <= 0) {
    c.pkeep_down = int_power(low_16_bits(b), c.q);
    c.pkeep_up = c.pkeep_down;
  } else {
    const long double two_option_survival = x / 3 + c.q;
    c.pkeep_down = int_power(low_16_bits(acc), two_option_survival) *
                   int_power(low_16_bits(wrapping_sub(b, acc)), c.q);
    c.pkeep_up = int_power(low_16_bits(b), two_option_survival);
  }
  c.pbreak_down = 1 - c.pkeep_down;
  c.pbreak_up = 1 - c.pkeep_up;
  return c;
}

long double selection_shortfall(std::int32_t mu, std::int32_t lambda, long double y) {
  const long double c = static_cast<long double>(mu) / static_cast<long double>(lambda);
  if (y >= c) return 0.0L;
  return 1 - (static_cast<long double>(lambda) * y) / static_cast<long double>(mu);
}

LevelMatrix build_transition_matrix(long double x, std::int32_t b, std::int32_t acc, std::int32_t l,
                                    const std::stop_token& cancel) {
  const ExtendedArithmetic arithmetic;
  LevelMatrix m(l);
  // Stages in the order in which their failures would stop the literal
  // evaluation: the constants, the factorials and powers, then row by row
  // the sums before the row's values are stored.
  const MutationConstants constants = mutation_constants(x, b, acc);
  stop_on_raised_flags();
  ParentLevelSums sums(constants, l);
  stop_on_raised_flags();
  std::vector<long double> row(static_cast<std::size_t>(l) + 1);
  for (std::int32_t i = 0; i <= l; ++i) {
    stop_if_cancelled(cancel);
    sums.prepare(i);
    sums.down(row.data());
    if (i < l) sums.up(row.data());
    stop_on_raised_flags();
    for (std::int32_t j = 1; j <= l; ++j) m.set(i, j, row[static_cast<std::size_t>(j)]);
  }
  return m;
}

LevelMatrix build_transition_matrix(const PointParameters& p, const std::stop_token& cancel) {
  return build_transition_matrix(p.Pmut, p.block_length, p.two_option_positions, p.blocks, cancel);
}

}  // namespace blocklevels
