// The chromosomes of one run: the parents of the current generation and the
// offspring bred from them, in two pools of lambda chromosomes used in turn,
// so that a generation allocates nothing.
//
// A chromosome is `blocks` blocks of `block_length` positions holding alleles
// 0..3. Allele 0 is acceptable everywhere, allele 1 also at the first
// `two_option` positions of a block. Each chromosome keeps, beside its
// alleles, the number of unacceptable ("wrong") alleles of each block and its
// level, the number of blocks with none; a mutation updates both in O(1).
#pragma once

#include <cassert>
#include <cstddef>
#include <cstdint>
#include <pcg_random.hpp>
#include <span>
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

class Population {
 public:
  // Allocates everything the run needs; throws std::bad_alloc when that is
  // more than memory holds. The contents are unset until start().
  explicit Population(const PointParameters& params);

  // mu parents at level 0 in which every block lacks one allele: all alleles
  // are 0 except position 0 of each block, which holds 1 when two_option is 0
  // and 2 otherwise. Restarts the stream of mutated positions.
  void start(pcg32& rng);

  // Breeds lambda offspring, each a mutated copy of a parent drawn uniformly.
  // Per offspring the draws are: the parent, then the mutations in position
  // order.
  void breed(pcg32& rng);

  // The mu offspring of highest level, ties at the lowest level taken broken
  // uniformly at random, become the parents. Call once after each breed().
  void select(pcg32& rng);

  // Between breed() and select(): element i is the number of offspring at level i, i = 0..blocks.
  std::span<const std::int32_t> level_histogram() const { return histogram_; }

  // Between breed() and select(), offspring i in 0..lambda-1.
  std::span<const std::uint8_t> offspring_alleles(std::int32_t i) const;
  std::span<const std::uint32_t> offspring_wrong_counts(std::int32_t i) const;
  std::int32_t offspring_level(std::int32_t i) const;

  // After select(): which offspring of the generation just bred became parent
  // k in 0..mu-1.
  std::int32_t selected_offspring(std::int32_t k) const;

 private:
  struct Pool {
    std::vector<std::uint8_t> alleles;  // chromosome c at [c * positions, (c + 1) * positions)
    std::vector<std::uint32_t> wrong;   // chromosome c at [c * blocks, (c + 1) * blocks)
    std::vector<std::int32_t> levels;   // chromosome c at [c]
  };

  bool acceptable(std::uint8_t allele, std::size_t offset_in_block) const {
    return allele == 0 || (allele == 1 && offset_in_block < two_option_);
  }

  std::size_t lambda_;
  std::size_t mu_;
  std::size_t block_length_;
  std::size_t two_option_;
  std::size_t blocks_;
  std::size_t positions_;  // blocks * block_length
  MutationPositions mutations_;
  Pool pools_[2];
  std::size_t parent_pool_ = 0;          // the other pool receives the offspring
  std::vector<std::uint32_t> parents_;   // mu chromosome indices in the parent pool
  std::vector<std::uint32_t> ties_;      // scratch of select(): offspring at the threshold level
  std::vector<std::int32_t> histogram_;  // blocks + 1 counts
};

}  // namespace blocklevels::simulation
