#include "model/point_generation.hpp"

#include <cstring>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

bool same_extended_bits(std::span<const long double> a, std::span<const long double> b) {
  constexpr std::size_t kValueBytes = 10;  // 64-bit significand, sign and 15-bit exponent
  if (a.size() != b.size()) return false;
  for (std::size_t n = 0; n < a.size(); ++n) {
    if (std::memcmp(&a[n], &b[n], kValueBytes) != 0) return false;
  }
  return true;
}

PointGeneration::PointGeneration(const PointTransitions& t, std::int32_t mu, std::int32_t lambda)
    : t_(t),
      l_(static_cast<std::size_t>(t.l())),
      mu_(mu),
      lambda_(lambda),
      shares_(l_ + 1),
      active_levels_(l_ + 1),
      active_shares_(l_ + 1),
      next_(l_) {}

bool PointGeneration::advance(PointState& state) {
  select(state);
  sum_offspring();
  const RaisedFlags raised = raised_flags();
  if (raised.overflow) throw_stop(kFloatOverflow);
  if (raised.invalid) throw_stop(kInvalidOperation);
  const bool unchanged = same_extended_bits(next_.points, state.points);
  std::swap(state.points, next_.points);
  std::swap(state.tails, next_.tails);
  return unchanged;
}

// The shares s[0..l] (see the header), and the levels whose share is not 0.
// lambda = 0 fails in mu / lambda, a division by zero or 0/0 when mu is 0
// too, before anything else: the literal generation's stops.
void PointGeneration::select(const PointState& state) {
  clear_raised_flags();
  const long double mu = mu_, lambda = lambda_;
  const long double cut = mu / lambda;
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
  const std::vector<long double>& p = state.points;
  const std::vector<long double>& tails = state.tails;
  std::size_t active = 0;
  bool full = true;  // level 0: every parent is at or above it
  for (std::size_t i = 0; i <= l_; ++i) {
    const bool next_full = i < l_ && tails[i] >= cut;  // A[i + 1] >= mu / lambda
    long double s = 0.0L;
    if (full && i == l_) {
      s = 1.0L;  // G[l + 1] = 0
    } else if (full && !next_full) {
      s = 1 - (lambda * tails[i]) / mu;  // the cut
    } else if (!full && !next_full) {
      s = (lambda * p[i - 1]) / mu;
    } else if (!full && next_full) {
      s = (lambda * tails[i - 1]) / mu - 1;  // only where A rises with the level
    }
    shares_[i] = s;
    if (s != 0 || !t_.finite()) {
      active_levels_[active] = i;
      active_shares_[active] = s;
      ++active;
    }
    full = next_full;
  }
  active_ = active;
  // With mu = 0 a level below no offspring (A < 0) divides by zero, as in
  // the literal shortfall.
  const RaisedFlags shares_raised = raised_flags();
  if (shares_raised.division_by_zero) throw_stop(kDivisionByZero);
  if (shares_raised.invalid) throw_stop(kInvalidOperation);
}

// p'[k] = sum over the active levels of s[i] T[i][k], three offspring
// levels at a time sharing each share; then the tails from the top down.
void PointGeneration::sum_offspring() {
  const std::size_t active = active_;
  const std::size_t* levels = active_levels_.data();
  const long double* shares = active_shares_.data();
  std::vector<long double>& next = next_.points;
  std::size_t k = 0;
  for (; k + 3 <= l_; k += 3) {
    const long double* column0 = t_.column(static_cast<std::int32_t>(k + 1));
    const long double* column1 = column0 + (l_ + 1);
    const long double* column2 = column1 + (l_ + 1);
    long double sum0 = 0.0L, sum1 = 0.0L, sum2 = 0.0L;
    for (std::size_t n = 0; n < active; ++n) {
      const std::size_t i = levels[n];
      const long double s = shares[n];
      sum0 += s * column0[i];
      sum1 += s * column1[i];
      sum2 += s * column2[i];
    }
    next[k] = sum0;
    next[k + 1] = sum1;
    next[k + 2] = sum2;
  }
  for (; k < l_; ++k) {
    const long double* column = t_.column(static_cast<std::int32_t>(k + 1));
    long double sum = 0.0L;
    for (std::size_t n = 0; n < active; ++n) sum += shares[n] * column[levels[n]];
    next[k] = sum;
  }
  long double tail = 0.0L;
  for (std::size_t n = l_; n-- > 0;) {
    tail += next[n];
    next_.tails[n] = tail;
  }
}

}  // namespace blocklevels
