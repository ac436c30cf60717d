// The states of one block under mutation and their transition
// probabilities, as the real algorithm has them.
//
// A block has acc two-option positions (alleles 0 and 1 acceptable) and
// s = b - acc single positions (allele 0 only). Mutation changes each
// position with probability x to one of the three other alleles, uniformly,
// so every position is a chain between right and wrong:
//   single position:      right -> wrong x,     wrong -> right x/3;
//   two-option position:  right -> wrong 2x/3,  wrong -> right 2x/3.
// Positions of one kind are alike and mutate independently, so the number of
// wrong positions of each kind is itself a chain, and a block's state is
// (u, v): u wrong two-option and v wrong single positions. (0, 0) is the
// complete block. The state's index is u (s + 1) + v, so the complete block
// is state 0.
#pragma once

#include <cstdint>
#include <vector>

namespace blocklevels {

// n positions of one kind. Each probability and its complement is formed
// without cancellation for 0 <= x <= 1 (the complements are 1 - x, 1 - x/3
// and 1 - 2x/3, at least 0, 2/3 and 1/3).
struct PositionKind {
  std::int32_t n = 0;
  long double spoil = 0;       // right -> wrong
  long double keep_right = 1;  // 1 - spoil
  long double fix = 0;         // wrong -> right
  long double keep_wrong = 1;  // 1 - fix
};

class BlockStates {
 public:
  static constexpr std::int32_t kComplete = 0;

  // Preconditions: 0 <= x <= 1, b >= 1, 0 <= acc <= b. Costs O(b^3) once.
  BlockStates(long double x, std::int32_t b, std::int32_t acc);

  long double pmut() const { return x_; }
  std::int32_t count() const { return (two_.n + 1) * (single_.n + 1); }
  const PositionKind& two_option() const { return two_; }
  const PositionKind& single() const { return single_; }

  std::int32_t index(std::int32_t u, std::int32_t v) const { return u * (single_.n + 1) + v; }
  std::int32_t wrong_two_option(std::int32_t k) const { return k / (single_.n + 1); }
  std::int32_t wrong_single(std::int32_t k) const { return k % (single_.n + 1); }

  // The block of the algorithm's start: it lacks one allele, at position 0,
  // a two-option position when acc > 0 and a single one otherwise.
  std::int32_t start() const { return two_.n > 0 ? index(1, 0) : index(0, 1); }

  // P(u -> u2) of the wrong two-option count, P(v -> v2) of the single one,
  // and P(k -> k2) of the block's state, their product.
  long double two_option_step(std::int32_t u, std::int32_t u2) const {
    return two_step_[pair(two_.n, u, u2)];
  }
  long double single_step(std::int32_t v, std::int32_t v2) const {
    return single_step_[pair(single_.n, v, v2)];
  }
  long double step(std::int32_t k, std::int32_t k2) const {
    return two_option_step(wrong_two_option(k), wrong_two_option(k2)) *
           single_step(wrong_single(k), wrong_single(k2));
  }

  // y = q T: the state distribution one mutation after q (count() values
  // each, non-negative), as sums of non-negative terms: first over the
  // two-option count, then over the single one. `scratch` holds count()
  // values.
  void step_distribution(const long double* q, long double* y, long double* scratch) const;

 private:
  static std::size_t pair(std::int32_t n, std::int32_t from, std::int32_t to) {
    return static_cast<std::size_t>(from) * static_cast<std::size_t>(n + 1) +
           static_cast<std::size_t>(to);
  }

  long double x_;
  PositionKind two_;
  PositionKind single_;
  std::vector<long double> two_step_;     // (acc + 1)^2, row by row
  std::vector<long double> single_step_;  // (s + 1)^2, row by row
};

// The count chain of one kind: P(u -> u2) = sum over k of
// Bin(u, fix)(k) * Bin(n - u, spoil)(u2 - u + k), (n + 1)^2 values row by row.
std::vector<long double> count_chain(const PositionKind& kind);

}  // namespace blocklevels
