#include "model/independent_blocks_model.hpp"

#include <algorithm>

namespace blocklevels {
namespace {

std::size_t at(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

}  // namespace

IndependentBlocksMutation::IndependentBlocksMutation(const BlockStates& states, std::int32_t l)
    : states_(states), l_(l), keep_(states.step(0, 0)), break_(0), broken_to_(at(states.count())) {
  for (std::int32_t s = 1; s < states.count(); ++s) {
    broken_to_[at(s)] = states.step(0, s);
    break_ += broken_to_[at(s)];
  }
}

IndependentBlocksTrajectory::IndependentBlocksTrajectory(const IndependentBlocksMutation& mutation)
    : mutation_(mutation),
      l_(mutation.blocks()),
      k_(mutation.states().count()),
      convolution_(l_),
      mass_(at(l_) + 1),
      states_(states_at(l_ + 1)),
      levels_(at(l_) + 1),
      moved_(states_.size()),
      stayed_(levels_at(l_ + 1)),
      broke_(at(l_)),
      mass_sum_(at(l_)),
      c1_(at(l_)),
      c2_(at(l_)),
      scratch_(at(k_)) {
  bred_from_.reserve(at(l_) + 1);
}

void IndependentBlocksTrajectory::start() {
  std::fill(mass_.begin(), mass_.end(), 0.0L);
  std::fill(states_.begin(), states_.end(), 0.0L);
  mass_[0] = 1.0L;
  states_[states_at(0) + at(mutation_.states().start())] = 1.0L;
}

void IndependentBlocksTrajectory::breed() {
  std::fill(broke_.begin(), broke_.end(), 0.0L);
  std::fill(mass_sum_.begin(), mass_sum_.end(), 0.0L);
  levels_[at(l_)] = 0;
  bred_from_.clear();
  for (std::int32_t i = 0; i <= l_; ++i) {
    if (mass_[at(i)] > 0) breed_from(i);
  }
  for (std::int32_t m = 0; m < l_; ++m) {
    levels_[at(m)] = mass_sum_[at(m)] / static_cast<long double>(l_ - m);
  }
}

void IndependentBlocksTrajectory::breed_from(std::int32_t i) {
  bred_from_.push_back(i);
  const long double g = mass_[at(i)];
  const long double p1 = mutation_.keep();
  const long double q1 = mutation_.broken();
  long double p2 = 0;
  long double q2 = 1;
  long double* r = moved_.data() + states_at(i);
  if (i < l_) {
    mutation_.states().step_distribution(states_.data() + states_at(i), r, scratch_.data());
    p2 = r[0];
    q2 = 0;
    for (std::int32_t s = 1; s < k_; ++s) q2 += r[at(s)];
  }
  // c1_[m] = g i C1(m), stayed[m] = g (l - i) C2(m): the broken and the
  // stayed incomplete blocks at offspring level m.
  long double* stayed = stayed_.data() + levels_at(i);
  if (i >= 1) {
    convolution_.compute({i - 1, p1, q1}, {l_ - i, p2, q2}, g * static_cast<long double>(i),
                         c1_.data());
  } else {
    std::fill(c1_.begin(), c1_.end(), 0.0L);
  }
  if (i < l_) {
    convolution_.compute({i, p1, q1}, {l_ - i - 1, p2, q2}, g * static_cast<long double>(l_ - i),
                         stayed);
  } else {
    std::fill(stayed, stayed + l_, 0.0L);
  }
  for (std::int32_t m = 0; m < l_; ++m) {
    broke_[at(m)] += c1_[at(m)];
    mass_sum_[at(m)] += c1_[at(m)] * q1 + stayed[m] * q2;
  }
  // All l blocks complete: the i kept and the l - i completed;
  // g p1 C1(l - 1) = g p1^i p2^(l-i) = g p2 C2(l - 1).
  levels_[at(l_)] += i >= 1 ? p1 * c1_[at(l_ - 1)] / static_cast<long double>(i)
                            : p2 * stayed[l_ - 1] / static_cast<long double>(l_ - i);
}

// The state distributions of the incomplete blocks of the offspring at
// levels from..l-1: broken blocks in state s by T(0, s), incomplete ones by
// r_i(s), each level's sum over parents in increasing parent level.
void IndependentBlocksTrajectory::offspring_states(std::int32_t from) {
  for (std::int32_t m = from; m < l_; ++m) {
    long double* d = states_.data() + states_at(m);
    for (std::int32_t s = 1; s < k_; ++s) d[s] = mutation_.broken_to(s) * broke_[at(m)];
  }
  // Parents in groups and states in fours, so that four independent sums
  // stay in registers across a group.
  constexpr std::size_t kGroup = 16;
  for (std::size_t first = 0; first < bred_from_.size(); first += kGroup) {
    const std::size_t end = std::min(first + kGroup, bred_from_.size());
    for (std::int32_t m = from; m < l_; ++m) {
      long double* d = states_.data() + states_at(m);
      std::int32_t s = 1;
      for (; s + 4 <= k_; s += 4) {
        long double sum0 = d[s], sum1 = d[s + 1], sum2 = d[s + 2], sum3 = d[s + 3];
        for (std::size_t n = first; n < end; ++n) {
          const std::int32_t i = bred_from_[n];
          const long double w = stayed_[levels_at(i) + at(m)];
          const long double* r = moved_.data() + states_at(i) + at(s);
          sum0 += w * r[0];
          sum1 += w * r[1];
          sum2 += w * r[2];
          sum3 += w * r[3];
        }
        d[s] = sum0;
        d[s + 1] = sum1;
        d[s + 2] = sum2;
        d[s + 3] = sum3;
      }
      for (; s < k_; ++s) {
        long double sum = d[s];
        for (std::size_t n = first; n < end; ++n) {
          const std::int32_t i = bred_from_[n];
          sum += stayed_[levels_at(i) + at(m)] * moved_[states_at(i) + at(s)];
        }
        d[s] = sum;
      }
    }
  }
  for (std::int32_t m = from; m < l_; ++m) {
    long double* d = states_.data() + states_at(m);
    long double total = 0;
    for (std::int32_t s = 1; s < k_; ++s) total += d[s];
    if (mass_[at(m)] == 0 || total == 0) {
      std::fill(d, d + k_, 0.0L);
      continue;
    }
    for (std::int32_t s = 1; s < k_; ++s) d[s] /= total;
  }
}

void IndependentBlocksTrajectory::select(const LevelSelection& selection) {
  for (std::int32_t i = 0; i <= l_; ++i) mass_[at(i)] = levels_[at(i)] * selection.factor(i);
  std::fill(states_.begin(), states_.end(), 0.0L);
  offspring_states(selection.cut());
}

void IndependentBlocksTrajectory::copy_parents(std::vector<long double>& to) const {
  to = mass_;
  to.insert(to.end(), states_.begin(), states_.end());
}

bool IndependentBlocksTrajectory::parents_equal(const std::vector<long double>& saved) const {
  return saved.size() == mass_.size() + states_.size() &&
         std::equal(mass_.begin(), mass_.end(), saved.begin()) &&
         std::equal(states_.begin(), states_.end(),
                    saved.begin() + static_cast<std::ptrdiff_t>(mass_.size()));
}

}  // namespace blocklevels
