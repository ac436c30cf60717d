#include "model/point_transitions.hpp"

#include <algorithm>
#include <cmath>

#include "model/extended_bits.hpp"

namespace blocklevels {
namespace {

// An exponent e with |v| < 2^e, or kNoTerm for 0.
std::int16_t exponent_above(long double v) {
  if (v == 0) return PointTransitions::kNoTerm;
  return static_cast<std::int16_t>(binary_exponent(v) + 1);
}

// The smallest scaled exponent whose pair is exact: lo's last bit, 63 below
// the value's leading bit, must not fall below the double's 2^-1074.
constexpr int kLowestExactExponent = -1011;

}  // namespace

PointTransitions::PointTransitions(std::int32_t l)
    : rows_(static_cast<std::size_t>(l) + 1), group_of_level_(rows_) {
  const std::size_t blocks = (rows_ + kBlock - 1) / kBlock;
  std::size_t pairs = 0;
  for (std::size_t high = rows_ - 1; high > 0;) {
    const std::size_t low = high >= kWidth ? high + 1 - kWidth : high;
    const std::size_t g = groups_.size();
    groups_.push_back({low, high, g * rows_, g * blocks, pairs});
    for (std::size_t k = low; k <= high; ++k) group_of_level_[k] = g;
    pairs += 2 * (high - low + 1) * rows_;
    high = low - 1;
  }
  below_.assign(groups_.size() * rows_, kNoTerm);
  above_.assign(groups_.size() * rows_, kNoTerm);
  factors_.assign(groups_.size() * blocks, 1.0L);
  extended_at_.assign(groups_.size() * blocks, kExact);
  pairs_.reset(new double[pairs]);
}

long double PointTransitions::at(std::int32_t i, std::int32_t k) const {
  const Group& g = groups_[group_of_level_[static_cast<std::size_t>(k)]];
  const auto parent = static_cast<std::size_t>(i);
  const std::size_t c = static_cast<std::size_t>(k) - g.low;
  const std::size_t block = parent / kBlock;
  if (!exact(g, block)) return extended(g, parent)[c];
  const double* pair = pairs(g, parent) + 2 * c;
  return (static_cast<long double>(pair[0]) + pair[1]) * factor(g, block);
}

const long double* PointTransitions::extended(const Group& g, std::size_t i) const {
  return &extended_[extended_at_[g.first_block + i / kBlock] + (i % kBlock) * width(g)];
}

void PointTransitions::store_block(std::size_t first, const long double* rows) {
  const std::size_t end = std::min(first + kBlock, rows_);
  for (const Group& g : groups_) store_group_block(g, first, end, rows);
}

// Each block's sigma brings its largest entry to [1, 2). The bounds: below
// takes the running maximum up the levels; above holds each level's own
// until finish() takes the maximum down them.
void PointTransitions::store_group_block(const Group& g, std::size_t first, std::size_t end,
                                         const long double* rows) {
  const std::size_t w = width(g);
  const auto entry = [&](std::size_t i, std::size_t c) {
    return rows[(i - first) * rows_ + g.low + c];
  };
  int top = std::numeric_limits<int>::min();
  bool finite = true;
  std::int16_t running = first == 0 ? kNoTerm : below_[g.first_bound + first - 1];
  for (std::size_t i = first; i < end; ++i) {
    std::int16_t own = kNoTerm;
    for (std::size_t c = 0; c < w; ++c) {
      const long double v = entry(i, c);
      finite = finite && std::isfinite(v);
      if (v != 0) top = std::max(top, binary_exponent(v));
      own = std::max(own, exponent_above(v));
    }
    running = std::max(running, own);
    below_[g.first_bound + i] = running;
    above_[g.first_bound + i] = own;
  }
  finite_ = finite_ && finite;
  const int sigma = top == std::numeric_limits<int>::min() || !finite ? 0 : -top;
  const long double scale = std::ldexp(1.0L, sigma);
  bool exact = finite;
  for (std::size_t i = first; i < end; ++i) {
    double* pair = &pairs_[g.first_pair + i * 2 * w];
    for (std::size_t c = 0; c < w; ++c) {
      const long double scaled = entry(i, c) * scale;
      exact = exact && (scaled == 0 || binary_exponent(scaled) >= kLowestExactExponent);
      const double hi = static_cast<double>(scaled);
      pair[2 * c] = hi;
      pair[2 * c + 1] = static_cast<double>(scaled - hi);
    }
  }
  const std::size_t block = first / kBlock;
  factors_[g.first_block + block] = std::ldexp(1.0L, -sigma);
  if (exact) return;
  extended_at_[g.first_block + block] = extended_.size();
  for (std::size_t i = first; i < end; ++i) {
    for (std::size_t c = 0; c < w; ++c) extended_.push_back(entry(i, c));
  }
}

void PointTransitions::finish() {
  for (const Group& g : groups_) {
    std::int16_t running = kNoTerm;
    for (std::size_t i = rows_; i-- > 0;) {
      running = std::max(running, above_[g.first_bound + i]);
      above_[g.first_bound + i] = running;
    }
  }
}

}  // namespace blocklevels
