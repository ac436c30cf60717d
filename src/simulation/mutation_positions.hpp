// The positions that mutate. All positions of all offspring of a run form one
// stream, chromosome after chromosome and generation after generation; each
// position mutates independently with probability pmut. Instead of a coin per
// position, the gap to the next mutated position is drawn from the geometric
// distribution P(gap = k) = (1 - pmut)^k * pmut, and a gap that runs past the
// end of a chromosome carries over into the next one.
#pragma once

#include <cmath>
#include <cstdint>
#include <pcg_random.hpp>

#include "simulation/geometric_gap.hpp"
#include "simulation/random_draws.hpp"

namespace blocklevels::simulation {

// ln(1 - p) for 0 < p < 1 from arithmetic alone where 1 - p would lose digits.
long double log_one_minus(long double p);

class MutationPositions {
 public:
  // A pmut so small that ln(1 - pmut) underflows to 0 mutates nothing.
  explicit MutationPositions(long double pmut)
      : always_(pmut == 1.0L),
        log_keep_(pmut == 0.0L || always_ ? 0.0L : log_one_minus(pmut)),
        never_(!always_ && log_keep_ == 0.0L),
        gap_(log_keep_) {}

  // Starts a run's stream at its first position. A stream that mutates
  // nothing draws nothing.
  void start(pcg32& rng) {
    next_ = 0;
    next_mutates_ = true;
    if (!never_) advance_from(rng, 0);
  }

  // Calls mutate(position) for every mutated position of the next chromosome
  // of `length` positions, in increasing order, and moves past the chromosome.
  // mutate may draw from rng: the gap after a mutation is drawn after it.
  template <class Mutate>
  void next_chromosome(std::uint64_t length, pcg32& rng, Mutate&& mutate) {
    if (never_) return;
    while (next_ < length) {
      const std::uint64_t position = next_;
      if (next_mutates_) {
        mutate(position);
        advance_from(rng, position + 1);
      } else {
        advance_from(rng, position);
      }
    }
    next_ -= length;
  }

  // How many gaps took the literal evaluation of the logarithm.
  std::uint64_t literal_gaps() const { return gap_.fallbacks(); }

 private:
  // The next event at or after `from`: a mutation after a geometric gap, or
  // the end of an undrawn long gap. Takes no output when pmut is 1 and two
  // otherwise. The gap is floor(ln U / ln(1 - pmut)) with U uniform on (0, 1]:
  // P(gap >= k) = P(U <= (1 - pmut)^k) = (1 - pmut)^k, as GeometricGap
  // evaluates it. A gap of 2^62 or more is not drawn in full: no run gets
  // through 2^62 positions (each is copied once), so the stream pauses at
  // its end and, the geometric distribution being memoryless, draws afresh
  // from there. This keeps every offset below 2^63.
  void advance_from(pcg32& rng, std::uint64_t from) {
    if (always_) {
      next_ = from;
      next_mutates_ = true;
      return;
    }
    const Gap gap = gap_(uniform_bits(rng));
    next_mutates_ = gap.mutates;
    next_ = from + gap.length;
  }

  bool always_;
  long double log_keep_;  // ln(1 - pmut) < 0 when neither never_ nor always_
  bool never_;
  GeometricGap gap_;
  std::uint64_t next_ = 0;    // offset of the next event from the current chromosome's start
  bool next_mutates_ = true;  // false at the end of an undrawn long gap
};

}  // namespace blocklevels::simulation
