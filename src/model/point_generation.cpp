#include "model/point_generation.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "arithmetic/extended_arithmetic.hpp"
#include "arithmetic/stop.hpp"
#include "arithmetic/stop_numbers.hpp"

namespace blocklevels {

PointGeneration::PointGeneration(const PointTransitions& transitions, std::int32_t mu,
                                 std::int32_t lambda)
    : t_(transitions),
      l_(static_cast<std::size_t>(transitions.l())),
      mu_(mu),
      lambda_(lambda),
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
void PointGeneration::select(const PointState& state) {
  clear_raised_flags();
  const long double mu = mu_, lambda = lambda_;
  const long double cut = mu / lambda;
  const std::vector<long double>& p = state.points;
  const std::vector<long double>& tails = state.tails;
  // (lambda y) / mu, as y times lambda / mu: as accurate, without a
  // division per level. mu = 0 keeps the division, whose flag the literal
  // shortfall raises too.
  const long double ratio = mu_ != 0 ? lambda / mu : 0.0L;
  const auto selected = [&](long double y) { return mu_ != 0 ? y * ratio : (lambda * y) / mu; };
  std::size_t active = 0;
  long double total = 0.0L;
  bool full = true;  // level 0: every parent is at or above it
  for (std::size_t i = 0; i <= l_; ++i) {
    const bool next_full = i < l_ && tails[i] >= cut;  // A[i + 1] >= mu / lambda
    long double s = 0.0L;
    if (full && i == l_) {
      s = 1.0L;  // G[l + 1] = 0
    } else if (full && !next_full) {
      s = 1 - selected(tails[i]);  // the cut
    } else if (!full && !next_full) {
      s = selected(p[i - 1]);
    } else if (!full && next_full) {
      s = selected(tails[i - 1]) - 1;  // only where A rises with the level
    }
    total += std::fabs(s);
    if (s != 0 || !t_.finite()) {
      active_levels_[active] = i;
      active_shares_[active] = s;
      ++active;
    }
    full = next_full;
  }
  active_ = active;
  share_total_ = total;
  // The literal generation's stops: lambda = 0 divides by zero in mu /
  // lambda, or makes 0/0 when mu is 0 too (then only invalid operations
  // follow, no division by zero); with mu = 0 a level below no offspring
  // (A < 0) divides by zero.
  const RaisedFlags raised = raised_flags();
  if (raised.division_by_zero) throw_stop(kDivisionByZero);
  if (raised.invalid) throw_stop(kInvalidOperation);
}

namespace {

// An exponent e such that terms below 2^e, whose shares add up to at most
// `shares`, total at most 2^-73 of `tail`; INT_MIN (nothing left out)
// unless both are normal numbers.
int negligible_exponent(long double tail, long double shares) {
  constexpr long double kSmallestNormal = std::numeric_limits<long double>::min();
  if (!(tail >= kSmallestNormal && shares >= kSmallestNormal) || !std::isfinite(tail) ||
      !std::isfinite(shares)) {
    return std::numeric_limits<int>::min();
  }
  return binary_exponent(tail) - 73 - (binary_exponent(shares) + 1);
}

}  // namespace

// The sums of one group of `width` offspring levels over the active levels
// first..last - 1, block by block of parent levels: from the scaled pairs,
// where the block's are exact, as (s 2^-sigma) (hi + lo), the same product
// as s T[i][k] (the powers of two are exact); else from the extended
// entries.
template <std::size_t width>
void PointGeneration::sum_group(const PointTransitions::Group& g, std::size_t first,
                                std::size_t last) {
  static_assert(width <= 6, "the loops below are unrolled 6 times");
  const std::size_t* levels = active_levels_.data();
  const long double* shares = active_shares_.data();
  long double sums[width] = {};
  for (std::size_t n = first; n < last;) {
    const std::size_t block = levels[n] / PointTransitions::kBlock;
    std::size_t end = n;
    while (end < last && levels[end] / PointTransitions::kBlock == block) ++end;
    if (t_.exact(g, block)) {
      const long double factor = t_.factor(g, block);
      for (; n < end; ++n) {
        const long double s = shares[n] * factor;
        const double* pair = t_.pairs(g, levels[n]);
#pragma GCC unroll 6
        for (std::size_t c = 0; c < width; ++c) {
          sums[c] += s * (static_cast<long double>(pair[2 * c]) + pair[2 * c + 1]);
        }
      }
    } else {
      for (; n < end; ++n) {
        const long double* entries = t_.extended(g, levels[n]);
#pragma GCC unroll 6
        for (std::size_t c = 0; c < width; ++c) sums[c] += shares[n] * entries[c];
      }
    }
  }
  for (std::size_t c = 0; c < width; ++c) next_.points[g.low - 1 + c] = sums[c];
}

// p'[k] = sum over the active levels of s[i] T[i][k], from the top level
// down, a group of offspring levels at a time sharing each share, and the
// tails as they come. Terms that cannot reach 2^-73 of the tail above the
// group, on either side, are left out: the parents far below the group (a
// rise of many levels) and far above it (a fall of many), whose bounds say
// so. A tail at j then lacks at most 2^-72 of the tail above each level
// k >= j, at most l 2^-72 of itself; a point probability lacks at most
// 2^-72 of the tail above it (harmless, see the header).
void PointGeneration::sum_offspring() {
  const std::size_t* levels = active_levels_.data();
  const bool skipping = t_.finite();
  long double tail = 0.0L;  // A'[k + 1] for the group's highest level k
  for (const PointTransitions::Group& g : t_.groups()) {
    std::size_t first = 0, last = active_;  // the active levels summed: [first, last)
    if (skipping) {
      const int e = negligible_exponent(tail, share_total_);
      const std::int16_t* below = t_.below(g);
      const std::int16_t* above = t_.above(g);
      first = static_cast<std::size_t>(
          std::partition_point(levels, levels + active_,
                               [=](std::size_t i) { return below[i] <= e; }) -
          levels);
      last = static_cast<std::size_t>(
          std::partition_point(levels + first, levels + active_,
                               [=](std::size_t i) { return above[i] > e; }) -
          levels);
    }
    if (g.high == g.low) {
      sum_group<1>(g, first, last);
    } else {
      sum_group<PointTransitions::kWidth>(g, first, last);
    }
    for (std::size_t level = g.high; level >= g.low; --level) {
      tail += next_.points[level - 1];
      next_.tails[level - 1] = tail;
    }
  }
}

}  // namespace blocklevels
