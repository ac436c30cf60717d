// The chromosomes of one run: the mu parents of the current generation and
// the lambda offspring bred from them.
//
// A chromosome is `blocks` blocks of `block_length` positions holding alleles
// 0..3. Allele 0 is acceptable everywhere, allele 1 also at the first
// `two_option` positions of a block. A parent keeps, beside its alleles, the
// number of unacceptable ("wrong") alleles of each block and its level, the
// number of blocks with none.
//
// An offspring is never copied while it may be discarded: it is its parent,
// its list of mutations and its level, which breed() computes from the
// parent's wrong counts and the mutations alone. select() writes out only the
// mu offspring it keeps. Chromosomes live in 2 mu slots, mu holding the
// parents and mu free: the first selected offspring of a parent takes over
// the parent's slot and applies its mutations there, and each further one is
// a copy in a free slot. With m mutations per offspring on average (pmut *
// positions), a generation costs O(lambda * (1 + m) + mu * positions) instead
// of O(lambda * positions), and memory is 2 mu chromosomes plus the lists.
//
// The lists of a generation share one buffer, reserved up front for the
// expected number of mutations of a generation (lambda * positions * pmut)
// and 8 standard deviations more, at most lambda * positions (each position
// of an offspring mutates at most once). A generation with more grows it, by
// doubling, and it keeps its size for later generations and runs: a
// population allocates at most a few times in its life.
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <pcg_random.hpp>
#include <span>
#include <stop_token>
#include <vector>

#include "parameters/point_parameters.hpp"
#include "simulation/mutation_positions.hpp"

namespace blocklevels::simulation {

// What the simulation needs of a point; the caller validates the
// parameters, debug builds check them here.
inline void assert_simulable(const PointParameters& p) {
  assert(p.lambda >= 1 && p.mu >= 1 && p.mu <= p.lambda);
  assert(p.Pmut >= 0.0L && p.Pmut <= 1.0L);
  assert(p.block_length >= 1 && p.two_option_positions >= 0 &&
         p.two_option_positions <= p.block_length);
  assert(p.blocks >= 1 && p.step_generations >= 1);
  static_cast<void>(p);
}

// A mutated position of an offspring and the allele it holds there, in one
// word: a chromosome has fewer than 2^42 positions (blocks <= 1754, block
// length < 2^31), so position * 4 + allele fits.
class Mutation {
 public:
  Mutation(std::uint64_t position, std::uint8_t allele) : word_(position << 2 | allele) {}
  std::uint64_t position() const { return word_ >> 2; }
  std::uint8_t allele() const { return static_cast<std::uint8_t>(word_ & 3U); }

 private:
  std::uint64_t word_;
};

class Population {
 public:
  // Allocates everything the run needs; throws std::bad_alloc when that is
  // more than memory holds. The memory is not written here, so that its
  // pages are taken as start(), breed() and select() first fill them, where
  // a stop can be requested; the contents are unset until start().
  explicit Population(const PointParameters& params);

  // The bytes a population for params allocates: the 2 mu chromosomes, the
  // offspring's records and the mutation lists as reserved (saturated at
  // 2^64 - 1). A run writes all of it but the free chromosome slots no
  // selection has needed yet.
  static std::uint64_t allocated_bytes(const PointParameters& params);

  // A stop requested through `cancel` is tested every kCancelStride
  // parents or offspring of start(), breed() and select(), and throws
  // Cancelled there; the population must then be start()ed again. Between
  // tests a stride costs microseconds (a generation of 10^6 offspring
  // about 0.1 s).
  static constexpr std::size_t kCancelStride = 256;

  // mu parents at level 0 in which every block lacks one allele: all alleles
  // are 0 except position 0 of each block, which holds 1 when two_option is 0
  // and 2 otherwise. Restarts the stream of mutated positions.
  void start(pcg32& rng, const std::stop_token& cancel = {});

  // Breeds lambda offspring, each a parent drawn uniformly with its mutations.
  // Per offspring the draws are: the parent, then the mutations in position
  // order (each one's new allele, then the gap to the next). A run's totals
  // are a function of its seed through this order, and tables written before
  // must stay reproducible and mergeable with new shards: it must not change.
  void breed(pcg32& rng, const std::stop_token& cancel = {});

  // The mu offspring of highest level, ties at the lowest level taken broken
  // uniformly at random, become the parents: parent k is the k-th selected.
  // Call once after each breed().
  void select(pcg32& rng, const std::stop_token& cancel = {});

  // Between breed() and select(): element i is the number of offspring at level i, i = 0..blocks.
  std::span<const std::int32_t> level_histogram() const { return histogram_; }

  // Between breed() and select(), offspring i in 0..lambda-1: the index of
  // its parent, its mutations in increasing position order, and its level.
  std::int32_t offspring_parent(std::int32_t i) const;
  std::span<const Mutation> offspring_mutations(std::int32_t i) const;
  std::int32_t offspring_level(std::int32_t i) const;

  // After select(): which offspring of the generation just bred became parent
  // k in 0..mu-1.
  std::int32_t selected_offspring(std::int32_t k) const;

  // After start() or select(), parent k in 0..mu-1.
  std::span<const std::uint8_t> parent_alleles(std::int32_t k) const;
  std::span<const std::uint32_t> parent_wrong_counts(std::int32_t k) const;
  std::int32_t parent_level(std::int32_t k) const;

  // How many mutations the lists hold without growing.
  std::size_t mutation_capacity() const { return mutations_.capacity(); }

 private:
  bool acceptable(std::uint8_t allele, std::size_t offset_in_block) const {
    return (allele == 0) | ((allele == 1) & (offset_in_block < two_option_));
  }

  // The block of position p: p / block_length.
  std::size_t block_of(std::size_t p) const;

  // Applies the mutations of offspring c to the chromosome in `slot`, which
  // holds its parent, and gives it the offspring's level.
  void mutate(std::size_t c, std::size_t slot);

  std::size_t lambda_;
  std::size_t mu_;
  std::size_t block_length_;
  std::size_t two_option_;
  std::size_t blocks_;
  std::size_t positions_;           // blocks * block_length
  std::uint64_t block_reciprocal_;  // ceil(2^64 / block_length), for block_of()
  MutationPositions positions_stream_;
  // Arrays allocated without being written: each element is written before
  // it is read (by start(), breed() or select()), and their pages are taken
  // only then.
  template <class T>
  using Unwritten = std::unique_ptr<T[]>;
  // 2 mu chromosomes: slot s at [s * positions, (s + 1) * positions) of
  // alleles_, [s * blocks, (s + 1) * blocks) of wrong_ and [s] of slot_levels_.
  Unwritten<std::uint8_t> alleles_;
  Unwritten<std::uint32_t> wrong_;
  Unwritten<std::int32_t> slot_levels_;
  Unwritten<std::uint32_t> parent_slot_;  // mu: parent k's slot
  Unwritten<std::uint32_t> free_slots_;   // mu: the slots no parent holds
  Unwritten<std::uint32_t> next_slot_;    // scratch of select(): the next parent_slot_
  Unwritten<std::uint32_t> heir_;         // scratch of select(): per parent, its first selected
  // Offspring c: parent parent_of_[c], level levels_[c], mutations at
  // [mutation_end_[c], mutation_end_[c + 1]) of mutations_.
  Unwritten<std::uint32_t> parent_of_;
  Unwritten<std::int32_t> levels_;
  Unwritten<std::size_t> mutation_end_;  // lambda + 1 offsets, the first 0
  std::vector<Mutation> mutations_;
  Unwritten<std::uint32_t> selected_;    // mu offspring indices, parent k's at [k]
  Unwritten<std::uint32_t> ties_;        // scratch of select(): offspring at the threshold level
  std::vector<std::int32_t> histogram_;  // blocks + 1 counts
};

}  // namespace blocklevels::simulation
