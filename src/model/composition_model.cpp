#include "model/composition_model.hpp"

#include <algorithm>
#include <new>

namespace blocklevels {
namespace {

std::size_t at(std::int32_t i) {
  return static_cast<std::size_t>(i);
}

// The two steps of one kind's chain, each a move probability and its
// complement, both formed without cancellation.
struct KindSteps {
  long double thin, thin_stay;  // a wrong position turns right
  long double add, add_stay;    // a right position turns wrong
};

// r -> w p (spoil), w -> r q (fix). Thin with q / (1 - p), then add p; the
// stay of thinning is (1 - p - q) / (1 - p), formed from 1 - p.
KindSteps direct_steps(const PositionKind& kind) {
  return {kind.fix / kind.keep_right, (kind.keep_right - kind.fix) / kind.keep_right, kind.spoil,
          kind.keep_right};
}

// After the swap the chain has r -> w 1 - q and w -> r 1 - p: thin with
// (1 - p) / q, then add 1 - q; the stay of thinning is (p + q - 1) / q.
KindSteps swapped_steps(const PositionKind& kind) {
  return {kind.keep_right / kind.fix, (kind.fix - kind.keep_right) / kind.fix, kind.keep_wrong,
          kind.fix};
}

}  // namespace

CompositionMutation::CompositionMutation(const BlockStates& states, std::int32_t l)
    : space_(states.count(), l) {
  if (space_.size() > UINT32_MAX) throw std::bad_alloc();
  std::vector<std::int32_t> counts(at(states.count()), 0);
  counts[at(states.start())] = l;
  start_ = space_.rank(counts);
  // p + q = 4x/3 for both kinds: above 1 exactly when x > 3/4.
  const bool swap = states.pmut() > 0.75L;
  if (swap) {
    swap_.resize(space_.size());
    const std::int32_t a = states.two_option().n;
    const std::int32_t s = states.single().n;
    for (std::size_t c = 0; c < space_.size(); ++c) {
      for (std::int32_t k = 0; k < states.count(); ++k) {
        const std::int32_t swapped =
            states.index(a - states.wrong_two_option(k), s - states.wrong_single(k));
        counts[at(swapped)] = space_.count(c, k);
      }
      swap_[c] = static_cast<std::uint32_t>(space_.rank(counts));
    }
  }
  add_kind(states, true, states.two_option());
  add_kind(states, false, states.single());
}

void CompositionMutation::add_kind(const BlockStates& states, bool two_option,
                                   const PositionKind& kind) {
  const KindSteps steps = swaps() ? swapped_steps(kind) : direct_steps(kind);
  const std::int32_t n = kind.n;
  const std::int32_t others = two_option ? states.single().n : states.two_option().n;
  auto state = [&](std::int32_t count, std::int32_t other) {
    return two_option ? states.index(count, other) : states.index(other, count);
  };
  // A move of probability 0 moves nothing and is left out.
  if (steps.thin > 0) {
    tables_.emplace_back(blocks(), steps.thin, steps.thin_stay);
    const auto table = static_cast<std::int32_t>(tables_.size() - 1);
    for (std::int32_t m = n; m >= 1; --m) {
      for (std::int32_t c = m; c <= n; ++c) {
        for (std::int32_t o = 0; o <= others; ++o)
          splits_.push_back({state(c, o), state(c - 1, o), table});
      }
    }
  }
  if (steps.add > 0) {
    tables_.emplace_back(blocks(), steps.add, steps.add_stay);
    const auto table = static_cast<std::int32_t>(tables_.size() - 1);
    for (std::int32_t m = n; m >= 1; --m) {
      for (std::int32_t c = n - m; c >= 0; --c) {
        for (std::int32_t o = 0; o <= others; ++o)
          splits_.push_back({state(c, o), state(c + 1, o), table});
      }
    }
  }
}

// Moving blocks from k down to j < k raises the bars j..k-1, so every target
// ranks above its source, and the compositions are taken in decreasing rank:
// a target has been taken (and keeps what arrives), a source not yet (and
// still holds only its own mass). Moving up, j > k, lowers the bars k..j-1,
// and the order is increasing rank. The rank after one more block moves
// changes by C(b, i) per raised bar b (C(b + 1, i + 1) - C(b, i + 1)) and by
// -C(b - 1, i) per lowered one.
void CompositionMutation::split(long double* weights, const Split& split) const {
  const BinomialRows& table = tables_[at(split.table)];
  const std::int32_t k = split.from;
  const std::int32_t j = split.to;
  const bool down = j < k;
  const std::size_t size = space_.size();
  for (std::size_t n_taken = 0; n_taken < size; ++n_taken) {
    const std::size_t c = down ? size - 1 - n_taken : n_taken;
    const std::int32_t n = space_.count(c, k);
    const long double mass = weights[c];
    if (n == 0 || mass == 0) continue;
    const long double* row = table.row(n);
    const std::uint16_t* bars = space_.bars(c);
    weights[c] = mass * row[0];
    std::uint64_t target = c;
    for (std::int32_t m = 1; m <= n; ++m) {
      if (down) {
        for (std::int32_t i = j; i < k; ++i) target += space_.binomial(bars[i] + m - 1, i);
      } else {
        for (std::int32_t i = k; i < j; ++i) target -= space_.binomial(bars[i] - m, i);
      }
      weights[target] += mass * row[m];
    }
  }
}

void CompositionMutation::mutate(std::vector<long double>& weights,
                                 std::vector<long double>& scratch) const {
  if (swaps()) {
    for (std::size_t c = 0; c < weights.size(); ++c) scratch[swap_[c]] = weights[c];
    weights.swap(scratch);
  }
  for (const Split& s : splits_) split(weights.data(), s);
}

CompositionTrajectory::CompositionTrajectory(const CompositionMutation& mutation)
    : mutation_(mutation),
      weights_(mutation.space().size()),
      scratch_(mutation.swaps() ? mutation.space().size() : 0),
      levels_(at(mutation.blocks()) + 1) {}

void CompositionTrajectory::start() {
  std::fill(weights_.begin(), weights_.end(), 0.0L);
  weights_[mutation_.start()] = 1.0L;
}

void CompositionTrajectory::breed() {
  mutation_.mutate(weights_, scratch_);
  std::fill(levels_.begin(), levels_.end(), 0.0L);
  const CompositionSpace& space = mutation_.space();
  for (std::size_t c = 0; c < weights_.size(); ++c) {
    levels_[at(space.first_count(c))] += weights_[c];
  }
}

void CompositionTrajectory::select(const LevelSelection& selection) {
  const CompositionSpace& space = mutation_.space();
  for (std::size_t c = 0; c < weights_.size(); ++c) {
    weights_[c] *= selection.factor(space.first_count(c));
  }
}

}  // namespace blocklevels
