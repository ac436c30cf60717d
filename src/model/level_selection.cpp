#include "model/level_selection.hpp"

#include <algorithm>

#include "model/transition_model.hpp"

namespace blocklevels {

LevelSelection::LevelSelection(std::int32_t mu, std::int32_t lambda, std::int32_t l)
    : mu_(mu),
      lambda_(lambda),
      l_(l),
      // With mu = 0 every level is at or above mu / lambda = 0, so the cut
      // is the top level and no factor above it is used (nor divided by 0).
      above_cut_(mu == 0 ? 0.0L : static_cast<long double>(lambda) / static_cast<long double>(mu)),
      tail_(index(l) + 1),
      factor_(index(l) + 1) {}

void LevelSelection::choose(const long double* levels) {
  long double sum = 0;
  for (std::int32_t j = l_; j >= 0; --j) {
    sum += levels[index(j)];
    tail_[index(j)] = sum;
  }
  // The shortfall is 0 exactly where A_j >= mu / lambda, as the level model
  // decides it; the tails fall with j, so the first such level from the top
  // is the cut.
  cut_ = 0;
  for (std::int32_t j = l_; j >= 1; --j) {
    if (selection_shortfall(mu_, lambda_, tail_[index(j)]) == 0) {
      cut_ = j;
      break;
    }
  }
  std::fill(factor_.begin(), factor_.begin() + cut_, 0.0L);
  for (std::int32_t i = cut_ + 1; i <= l_; ++i) factor_[index(i)] = above_cut_;
  const long double at_cut =
      cut_ == l_ ? 1.0L : selection_shortfall(mu_, lambda_, tail_[index(cut_ + 1)]);
  factor_[index(cut_)] = at_cut / levels[index(cut_)];
}

}  // namespace blocklevels
