// The compositions of l blocks over K block states: how many blocks are in
// each state, (n_0, ..., n_{K-1}) with sum l. There are C(l + K - 1, K - 1)
// of them. A composition is kept as its bars, b_i = n_0 + ... + n_i + i for
// i = 0..K-2, a strictly increasing sequence in 0..l + K - 2, and numbered
// by the colexicographic rank of that set, sum over i of C(b_i, i + 1).
// Moving m blocks between states k and j shifts only the bars between them,
// so the rank of the result follows from the bars of the source alone.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace blocklevels {

class CompositionSpace {
 public:
  // C(l + states - 1, states - 1) in extended precision: how many
  // compositions there are, for deciding whether they fit.
  static long double size_of(std::int32_t states, std::int32_t l);

  // Every composition in rank order. Preconditions: states >= 2, l >= 0,
  // l + states - 2 <= 65535 (a bar fits 16 bits) and the count fits memory
  // (else std::bad_alloc).
  CompositionSpace(std::int32_t states, std::int32_t l);

  std::size_t size() const { return size_; }
  std::int32_t states() const { return states_; }
  std::int32_t blocks() const { return l_; }

  // The K - 1 bars of composition c.
  const std::uint16_t* bars(std::size_t c) const { return bars_.data() + c * width(); }
  // n_k of composition c.
  std::int32_t count(std::size_t c, std::int32_t k) const;
  // The number of blocks in state 0.
  std::int32_t first_count(std::size_t c) const { return bars(c)[0]; }

  // The rank of the composition with these counts (states values summing to l).
  std::uint64_t rank(std::span<const std::int32_t> counts) const;
  // C(n, r) for 0 <= n <= l + states - 1, 0 <= r <= states - 1.
  std::uint64_t binomial(std::int32_t n, std::int32_t r) const {
    return binomials_[static_cast<std::size_t>(n) * static_cast<std::size_t>(states_) +
                      static_cast<std::size_t>(r)];
  }

 private:
  std::size_t width() const { return static_cast<std::size_t>(states_ - 1); }

  std::int32_t states_;
  std::int32_t l_;
  std::size_t size_ = 0;
  std::vector<std::uint64_t> binomials_;
  std::vector<std::uint16_t> bars_;  // size_ rows of states - 1 bars
};

}  // namespace blocklevels
