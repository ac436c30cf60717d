#include "model/composition_space.hpp"

#include <new>

namespace blocklevels {

long double CompositionSpace::size_of(std::int32_t states, std::int32_t l) {
  // C(l + K - 1, K - 1) = prod over r = 1..K-1 of (l + r) / r, each partial
  // product a binomial coefficient; rounded, but only compared with limits.
  long double size = 1;
  for (std::int32_t r = 1; r < states; ++r) size = size * static_cast<long double>(l + r) / r;
  return size;
}

CompositionSpace::CompositionSpace(std::int32_t states, std::int32_t l) : states_(states), l_(l) {
  const long double estimate = size_of(states, l);
  const std::int32_t top = l + states - 1;
  if (estimate * static_cast<long double>(states) > 0x1p40L ||
      static_cast<long double>(top + 1) * static_cast<long double>(states) > 0x1p28L) {
    throw std::bad_alloc();
  }
  // Pascal's triangle in 64-bit integers. The entries a rank uses are
  // C(i + p, i) with p <= l, at most the count C(l + K - 1, l), below 2^40;
  // others may pass 2^64 and saturate there.
  binomials_.assign(static_cast<std::size_t>(top + 1) * static_cast<std::size_t>(states), 0);
  for (std::int32_t n = 0; n <= top; ++n) {
    for (std::int32_t r = 0; r < states && r <= n; ++r) {
      std::uint64_t entry = 1;
      if (r != 0 && r != n &&
          __builtin_add_overflow(binomial(n - 1, r - 1), binomial(n - 1, r), &entry)) {
        entry = UINT64_MAX;
      }
      binomials_[static_cast<std::size_t>(n) * static_cast<std::size_t>(states) +
                 static_cast<std::size_t>(r)] = entry;
    }
  }
  size_ = binomial(top, states - 1);
  bars_.resize(size_ * width());
  // Colexicographic successor: raise the lowest bar that can move up and
  // put every bar below it back at its lowest place.
  std::vector<std::int32_t> bar(width());
  for (std::size_t i = 0; i < bar.size(); ++i) bar[i] = static_cast<std::int32_t>(i);
  for (std::size_t c = 0; c < size_; ++c) {
    for (std::size_t i = 0; i < bar.size(); ++i) {
      bars_[c * width() + i] = static_cast<std::uint16_t>(bar[i]);
    }
    std::size_t i = 0;
    while (i < bar.size() && bar[i] + 1 == (i + 1 < bar.size() ? bar[i + 1] : top)) ++i;
    if (i == bar.size()) break;
    ++bar[i];
    for (std::size_t t = 0; t < i; ++t) bar[t] = static_cast<std::int32_t>(t);
  }
}

std::int32_t CompositionSpace::count(std::size_t c, std::int32_t k) const {
  const std::uint16_t* b = bars(c);
  const std::int32_t upper = k + 1 < states_ ? b[k] : l_ + states_ - 1;
  const std::int32_t lower = k > 0 ? b[k - 1] : -1;
  return upper - lower - 1;
}

std::uint64_t CompositionSpace::rank(std::span<const std::int32_t> counts) const {
  std::uint64_t r = 0;
  std::int32_t prefix = 0;
  for (std::int32_t i = 0; i + 1 < states_; ++i) {
    prefix += counts[static_cast<std::size_t>(i)];
    r += binomial(prefix + i, i + 1);
  }
  return r;
}

}  // namespace blocklevels
