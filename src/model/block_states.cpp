#include "model/block_states.hpp"

#include <algorithm>

#include "model/binomial_rows.hpp"

namespace blocklevels {
namespace {

PositionKind single_kind(long double x, std::int32_t n) {
  return {n, x, 1.0L - x, x / 3, 1.0L - x / 3};
}

PositionKind two_option_kind(long double x, std::int32_t n) {
  const long double p = (x * 2) / 3;
  return {n, p, 1.0L - p, p, 1.0L - p};
}

}  // namespace

std::vector<long double> count_chain(const PositionKind& kind) {
  const std::int32_t n = kind.n;
  const BinomialRows fixed(n, kind.fix, kind.keep_wrong);
  const BinomialRows spoiled(n, kind.spoil, kind.keep_right);
  const auto side = static_cast<std::size_t>(n + 1);
  std::vector<long double> chain(side * side);
  for (std::int32_t u = 0; u <= n; ++u) {
    for (std::int32_t u2 = 0; u2 <= n; ++u2) {
      // k of the u wrong positions are fixed and u2 - u + k of the n - u
      // right ones spoiled.
      long double sum = 0;
      for (std::int32_t k = std::max(0, u - u2); k <= u && u2 - u + k <= n - u; ++k) {
        sum += fixed.at(u, k) * spoiled.at(n - u, u2 - u + k);
      }
      chain[static_cast<std::size_t>(u) * side + static_cast<std::size_t>(u2)] = sum;
    }
  }
  return chain;
}

BlockStates::BlockStates(long double x, std::int32_t b, std::int32_t acc)
    : x_(x),
      two_(two_option_kind(x, acc)),
      single_(single_kind(x, b - acc)),
      two_step_(count_chain(two_)),
      single_step_(count_chain(single_)) {}

void BlockStates::step_distribution(const long double* q, long double* y,
                                    long double* scratch) const {
  const std::int32_t a = two_.n;
  const std::int32_t s = single_.n;
  // scratch = q (T_two x I): the two-option count moves, v stays.
  for (std::int32_t u2 = 0; u2 <= a; ++u2) {
    for (std::int32_t v = 0; v <= s; ++v) {
      long double sum = 0;
      for (std::int32_t u = 0; u <= a; ++u) sum += q[index(u, v)] * two_option_step(u, u2);
      scratch[index(u2, v)] = sum;
    }
  }
  // y = scratch (I x T_single).
  for (std::int32_t u2 = 0; u2 <= a; ++u2) {
    for (std::int32_t v2 = 0; v2 <= s; ++v2) {
      long double sum = 0;
      for (std::int32_t v = 0; v <= s; ++v) sum += scratch[index(u2, v)] * single_step(v, v2);
      y[index(u2, v2)] = sum;
    }
  }
}

}  // namespace blocklevels
