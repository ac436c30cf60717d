#include "model/transition_terms.hpp"

#include <algorithm>
#include <cmath>

#include "arithmetic/cancelled.hpp"
#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"
#include "arithmetic/wrapping_int.hpp"
#include "model/int_power.hpp"

namespace blocklevels {
namespace {

// Throws the stop of the first floating-point failure of a stage, in the
// order the literal build tests them.
void stop_on_raised_flags() {
  const RaisedFlags raised = raised_flags();
  if (raised.overflow) throw_stop(kFloatOverflow);
  if (raised.invalid) throw_stop(kInvalidOperation);
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
}

// 1 - base^n, where 1 - base = step in exact arithmetic, as step * (1 +
// base + ... + base^(n-1)): for 0 <= base <= 1 a sum of positive terms, so
// it keeps its relative precision where base^n is close to 1 (a small
// Pmut), which 1 - base^n would lose.
long double one_minus_power(long double base, long double step, std::uint16_t n) {
  long double sum = 0.0L, power = 1.0L;
  for (unsigned k = 0; k < n; ++k) {
    sum += power;
    power *= base;
  }
  return step * sum;
}

std::vector<long double> powers_up_to(long double base, std::int32_t top) {
  std::vector<long double> powers(static_cast<std::size_t>(top) + 1);
  long double running = 1.0L;
  for (long double& power : powers) {
    power = running;
    running *= base;
  }
  return powers;
}

std::size_t at(std::int32_t index) {
  return static_cast<std::size_t>(index);
}

// 2^72: a product at most the sum over this is left out with the rest.
constexpr long double kNegligible = 0x1p72L;

// The sum of a[n] * b[n] for 0 <= n < count, added from n = 0. With
// `log_concave` the products are known to be a log-concave sequence (the
// product of two binomial probabilities, each log-concave in n, for 0 <=
// Pmut <= 1), whose ratios f(n + 1) / f(n) never grow: once a product is at
// most half the one before it, every later one is too, and the products
// left add up to at most that one. The sum stops there when that is at
// most 2^-72 of the sum: a relative error of 2^-72, below the sum's own
// rounding.
long double sum_of_products(const long double* a, const long double* b, std::int32_t count,
                            bool log_concave) {
  long double sum = 0.0L, previous = 0.0L;
  for (std::int32_t n = 0; n < count; ++n) {
    const long double product = a[n] * b[n];
    sum += product;
    if (log_concave && previous > 0 && product * 2 <= previous && product * kNegligible <= sum) {
      break;
    }
    previous = product;
  }
  return sum;
}

// The binomial terms of one parent level and the point transitions from it.
class ParentLevelTerms {
 public:
  // The factorials first: from 1755! on they overflow, and the run stops
  // there, before the powers, as the literal evaluation does.
  ParentLevelTerms(long double x, const AccurateSurvival& s, std::int32_t l)
      : l_(l), s_(s), log_concave_(x >= 0 && x <= 1), factorials_(static_cast<std::size_t>(l) + 1) {
    long double running = 1.0L;
    for (std::size_t n = 0; n < factorials_.size(); ++n) {
      if (n > 0) running *= static_cast<long double>(n);
      factorials_[n] = running;
    }
    a_ = powers_up_to(s.a, l);
    na_ = powers_up_to(s.na, l);
    pbreak_down_ = powers_up_to(s.pbreak_down, l);
    pkeep_down_ = powers_up_to(s.pkeep_down, l);
    pbreak_up_ = powers_up_to(s.pbreak_up, l);
    pkeep_up_ = powers_up_to(s.pkeep_up, l);
    t_.resize(at(l) + 2);
    w_.resize(at(l) + 2);
    d_.resize(at(l) + 1);
    u_.resize(at(l) + 1);
  }

  // T[i][k] for k = 1..l into row[k].
  void fill(std::int32_t i, long double* row) {
    form_terms(i);
    const std::int32_t free_blocks = l_ - i;
    // n completions and r = i - k + n breaks, n <= k (r <= i).
    for (std::int32_t k = 1; k < i; ++k) {
      row[k] =
          sum_of_products(t_.data(), &d_[at(i - k)], std::min(k, free_blocks) + 1, log_concave_);
    }
    if (i >= 1) row[i] = staying(i);
    // r breaks and k - i + r completions, k - i + r <= l - i.
    const long double* up = s_.one_survival ? d_.data() : u_.data();
    for (std::int32_t k = i + 1; k <= l_; ++k) {
      row[k] = sum_of_products(up, &t_[at(k - i)], std::min(i, l_ - k) + 1, log_concave_);
    }
  }

 private:
  // t(i, n), W(i, n) and d(i, r), and u(i, r) when the formulas differ.
  void form_terms(std::int32_t i) {
    const std::int32_t free_blocks = l_ - i;
    for (std::int32_t n = 0; n <= free_blocks; ++n) {
      t_[at(n)] = (a_[at(n)] * binomial(free_blocks, n)) * na_[at(free_blocks - n)];
    }
    // Suffix sums, smallest terms first for small Pmut.
    long double suffix = 0.0L;
    w_[at(free_blocks + 1)] = suffix;
    for (std::int32_t n = free_blocks; n >= 0; --n) {
      suffix += t_[at(n)];
      w_[at(n)] = suffix;
    }
    for (std::int32_t r = 0; r <= i; ++r) {
      const long double c = binomial(i, r);
      d_[at(r)] = (pbreak_down_[at(r)] * c) * pkeep_down_[at(i - r)];
      if (!s_.one_survival) u_[at(r)] = (pbreak_up_[at(r)] * c) * pkeep_up_[at(i - r)];
    }
  }

  // T[i][i] = down(i, i) - up(i, i + 1): the offspring with as many
  // completions as breaks (down's survival), less, when the formulas
  // differ, what rises above i under up's survival and not under down's:
  // the sum over r of W(i, r + 1) (u(i, r) - d(i, r)). The correction is
  // summed on its own and subtracted once; see the header for its error.
  long double staying(std::int32_t i) const {
    const long double stay =
        sum_of_products(t_.data(), d_.data(), std::min(i, l_ - i) + 1, log_concave_);
    if (s_.one_survival) return stay;
    long double correction = 0.0L;
    for (std::int32_t r = 0; r < l_ - i && r <= i; ++r) {
      correction += w_[at(r + 1)] * (u_[at(r)] - d_[at(r)]);
    }
    return stay - correction;
  }

  long double binomial(std::int32_t n, std::int32_t k) const {
    return factorials_[at(n)] / (factorials_[at(n - k)] * factorials_[at(k)]);
  }

  std::int32_t l_;
  AccurateSurvival s_;
  bool log_concave_;  // every term a probability: 0 <= Pmut <= 1
  std::vector<long double> factorials_;
  std::vector<long double> a_, na_, pbreak_down_, pkeep_down_, pbreak_up_, pkeep_up_;
  std::vector<long double> t_, w_, d_, u_;
};

}  // namespace

AccurateSurvival accurate_survival(long double x, std::int32_t b, std::int32_t acc) {
  AccurateSurvival s;
  const long double q = 1 - x;
  const std::uint16_t block = low_16_bits(b);
  if (acc <= 0) {
    // 1 - q = x.
    s.a = x / 3;
    s.pkeep_down = int_power(block, q);
    s.pbreak_down = one_minus_power(q, x, block);
    s.pkeep_up = s.pkeep_down;
    s.pbreak_up = s.pbreak_down;
  } else {
    // 1 - (x/3 + q) = 2x/3; 1 - v^acc q^m = (1 - v^acc) + v^acc (1 - q^m).
    const long double two_option_survival = x / 3 + q;
    const long double two_thirds = (x * 2) / 3;
    const std::uint16_t two_option = low_16_bits(acc);
    const std::uint16_t one_option = low_16_bits(wrapping_sub(b, acc));
    s.a = two_thirds;
    const long double kept_two_option = int_power(two_option, two_option_survival);
    s.pkeep_down = kept_two_option * int_power(one_option, q);
    s.pbreak_down = one_minus_power(two_option_survival, two_thirds, two_option) +
                    kept_two_option * one_minus_power(q, x, one_option);
    s.pkeep_up = int_power(block, two_option_survival);
    s.pbreak_up = one_minus_power(two_option_survival, two_thirds, block);
    s.one_survival = acc == b;
  }
  s.na = 1 - s.a;
  return s;
}

PointTransitions build_point_transitions(long double x, std::int32_t b, std::int32_t acc,
                                         std::int32_t l, const std::stop_token& cancel) {
  const ExtendedArithmetic arithmetic;
  PointTransitions transitions(l);
  const AccurateSurvival survival = accurate_survival(x, b, acc);
  stop_on_raised_flags();
  ParentLevelTerms terms(x, survival, l);
  stop_on_raised_flags();
  // The rows of one block of parent levels at a time.
  const std::size_t rows = at(l) + 1;
  std::vector<long double> block(PointTransitions::kBlock * rows);
  for (std::size_t first = 0; first < rows; first += PointTransitions::kBlock) {
    const std::size_t end = std::min(first + PointTransitions::kBlock, rows);
    for (std::size_t i = first; i < end; ++i) {
      stop_if_cancelled(cancel);
      terms.fill(static_cast<std::int32_t>(i), &block[(i - first) * rows]);
      stop_on_raised_flags();
    }
    transitions.store_block(first, block.data());
  }
  transitions.finish();
  return transitions;
}

}  // namespace blocklevels
