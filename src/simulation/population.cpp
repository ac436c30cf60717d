#include "simulation/population.hpp"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>
#include <utility>

#include "arithmetic/cancelled.hpp"
#include "simulation/random_draws.hpp"
#include "simulation/run_totals.hpp"

namespace blocklevels::simulation {

namespace {

std::size_t to_size(std::int32_t value) {
  return static_cast<std::size_t>(value);
}

std::size_t product(std::size_t a, std::size_t b) {
  std::size_t result = 0;
  if (__builtin_mul_overflow(a, b, &result)) throw std::bad_alloc();
  return result;
}

template <class T>
std::unique_ptr<T[]> unwritten(std::size_t size) {
  return std::make_unique_for_overwrite<T[]>(size);
}

// The mutations the lists are reserved for: the expected number of a
// generation, lambda * positions * pmut, and 8 standard deviations more (the
// number is binomial, its variance below its mean), so that a generation
// passes it with probability below 10^-15 and the lists, which double when
// they must grow, hardly ever do; never more than lambda * positions, which
// they cannot pass. In long double, since lambda * positions may pass 2^64
// while 2 mu chromosomes fit.
long double reserved_mutations(std::size_t lambda, std::size_t positions, long double pmut) {
  const long double most = static_cast<long double>(lambda) * static_cast<long double>(positions);
  const long double expected = most * pmut;
  return std::ceil(std::min(most, expected + 8 * std::sqrt(expected) + 64));
}

}  // namespace

std::uint64_t Population::allocated_bytes(const PointParameters& params) {
  const auto lambda = static_cast<long double>(params.lambda);
  const auto mu = static_cast<long double>(params.mu);
  const auto blocks = static_cast<long double>(params.blocks);
  const long double positions = blocks * static_cast<long double>(params.block_length);
  const long double bytes =
      2 * mu * (positions + blocks * sizeof(std::uint32_t) + sizeof(std::int32_t)) +
      5 * mu * sizeof(std::uint32_t) + 3 * lambda * sizeof(std::uint32_t) +
      (lambda + 1) * sizeof(std::size_t) + (blocks + 1) * sizeof(std::int32_t) +
      reserved_mutations(to_size(params.lambda), static_cast<std::size_t>(positions), params.Pmut) *
          sizeof(Mutation) +
      sizeof(Population);
  return bytes < 0x1p64L ? static_cast<std::uint64_t>(bytes) : ~std::uint64_t{0};
}

Population::Population(const PointParameters& params)
    : lambda_(to_size(params.lambda)),
      mu_(to_size(params.mu)),
      block_length_(to_size(params.block_length)),
      two_option_(to_size(params.two_option_positions)),
      blocks_(to_size(params.blocks)),
      positions_(product(blocks_, block_length_)),
      block_reciprocal_(block_length_ < 2 ? 0 : ~std::uint64_t{0} / block_length_ + 1),
      positions_stream_(params.Pmut),
      alleles_(unwritten<std::uint8_t>(product(product(2, mu_), positions_))),
      wrong_(unwritten<std::uint32_t>(product(product(2, mu_), blocks_))),
      slot_levels_(unwritten<std::int32_t>(2 * mu_)),
      parent_slot_(unwritten<std::uint32_t>(mu_)),
      free_slots_(unwritten<std::uint32_t>(mu_)),
      next_slot_(unwritten<std::uint32_t>(mu_)),
      heir_(unwritten<std::uint32_t>(mu_)),
      parent_of_(unwritten<std::uint32_t>(lambda_)),
      levels_(unwritten<std::int32_t>(lambda_)),
      mutation_end_(unwritten<std::size_t>(lambda_ + 1)),
      selected_(unwritten<std::uint32_t>(mu_)),
      ties_(unwritten<std::uint32_t>(lambda_)),
      histogram_(blocks_ + 1) {
  assert_simulable(params);
  mutation_end_[0] = 0;
  const long double reserved = reserved_mutations(lambda_, positions_, params.Pmut);
  if (reserved > static_cast<long double>(mutations_.max_size())) throw std::bad_alloc();
  mutations_.reserve(static_cast<std::size_t>(reserved));
}

// Below 2^32 p / B is a multiplication by M = ceil(2^64 / B) = 2^64 / B + e,
// 0 <= e < 1, for B >= 2: p M / 2^64 = p / B + p e / 2^64 exceeds p / B by
// less than 2^-32 <= 1 / B, too little to reach the next integer.
inline std::size_t Population::block_of(std::size_t p) const {
  if (block_length_ == 1) return p;
  if (p >> 32 != 0) return p / block_length_;
  return static_cast<std::size_t>((uint128{p} * block_reciprocal_) >> 64);
}

void Population::start(pcg32& rng, const std::stop_token& cancel) {
  const std::uint8_t missing = two_option_ == 0 ? 1 : 2;
  for (std::size_t k = 0; k < mu_; ++k) {
    if (k % kCancelStride == 0) stop_if_cancelled(cancel);
    std::uint8_t* alleles = &alleles_[k * positions_];
    std::fill_n(alleles, positions_, std::uint8_t{0});
    for (std::size_t b = 0; b < blocks_; ++b) alleles[b * block_length_] = missing;
    std::fill_n(&wrong_[k * blocks_], blocks_, std::uint32_t{1});
    parent_slot_[k] = static_cast<std::uint32_t>(k);
    free_slots_[k] = static_cast<std::uint32_t>(mu_ + k);
  }
  std::fill_n(slot_levels_.get(), mu_, 0);
  positions_stream_.start(rng);
}

void Population::breed(pcg32& rng, const std::stop_token& cancel) {
  std::fill(histogram_.begin(), histogram_.end(), 0);
  mutations_.clear();
  const auto mu = static_cast<std::uint32_t>(mu_);
  for (std::size_t c = 0; c < lambda_; ++c) {
    if (c % kCancelStride == 0) stop_if_cancelled(cancel);
    const std::uint32_t parent = uniform_below(rng, mu);
    const std::size_t slot = parent_slot_[parent];
    const std::uint8_t* alleles = &alleles_[slot * positions_];
    const std::uint32_t* wrong = &wrong_[slot * blocks_];
    std::int32_t level = slot_levels_[slot];
    // Positions come in increasing order, so the mutations of one block are
    // consecutive: `count` follows the wrong count of the block being
    // mutated, from the parent's, through each of its mutated positions. Each
    // position mutates at most once, so its old allele is the parent's. The
    // level goes down when a count leaves 0 and up when one reaches it;
    // computed without branches, since whether a block was or is complete
    // is as good as random. A count is at least 1 while it holds the wrong
    // allele it loses, and at most block_length < 2^31: nothing wraps.
    std::size_t block = blocks_;
    std::uint32_t count = 0;
    positions_stream_.next_chromosome(positions_, rng, [&](std::uint64_t position) {
      const auto p = static_cast<std::size_t>(position);
      const std::size_t b = block_of(p);
      const std::size_t offset = p - b * block_length_;
      if (b != block) {
        block = b;
        count = wrong[b];
      }
      const std::uint8_t old_allele = alleles[p];
      const std::uint8_t new_allele = other_allele(rng, old_allele);
      mutations_.emplace_back(position, new_allele);
      const std::uint32_t after = count +
                                  static_cast<std::uint32_t>(acceptable(old_allele, offset)) -
                                  static_cast<std::uint32_t>(acceptable(new_allele, offset));
      level += static_cast<std::int32_t>(after == 0) - static_cast<std::int32_t>(count == 0);
      count = after;
    });
    parent_of_[c] = parent;
    levels_[c] = level;
    mutation_end_[c + 1] = mutations_.size();
    ++histogram_[static_cast<std::size_t>(level)];
  }
}

void Population::select(pcg32& rng, const std::stop_token& cancel) {
  // The threshold is the highest level with at least mu offspring at or above
  // it; it exists because level 0 has all lambda >= mu. Everything above it
  // is kept, and `need` of the `ties` at it.
  const auto mu = static_cast<std::int32_t>(mu_);
  std::int32_t above = 0;
  std::size_t threshold = blocks_;
  while (above + histogram_[threshold] < mu) above += histogram_[threshold--];
  const auto need = static_cast<std::size_t>(mu - above);

  // Without branches, as in breed(): each offspring is written to both lists
  // and counted in the one it belongs to. kept stays below mu (it ends at
  // `above`) and ties below lambda, so both writes are in bounds.
  const auto limit = static_cast<std::int32_t>(threshold);
  std::size_t kept = 0;
  std::size_t ties = 0;
  for (std::size_t c = 0; c < lambda_; ++c) {
    selected_[kept] = static_cast<std::uint32_t>(c);
    ties_[ties] = static_cast<std::uint32_t>(c);
    kept += levels_[c] > limit ? 1 : 0;
    ties += levels_[c] == limit ? 1 : 0;
  }
  // The first `need` steps of a Fisher-Yates shuffle put a uniformly chosen
  // subset of that size in front; with need == ties the subset is all of them.
  if (need < ties) {
    for (std::size_t i = 0; i < need; ++i) {
      const std::size_t j = i + uniform_below(rng, static_cast<std::uint32_t>(ties - i));
      std::swap(ties_[i], ties_[j]);
    }
  }
  std::copy_n(ties_.get(), need, &selected_[kept]);

  // Writing out the selected offspring draws nothing.
  // Parent p's slot goes to heir_[p], its first selected offspring, or back
  // to the free slots when it has none. The other selected offspring are
  // copied into free slots first, while every parent is still intact; as
  // many parents have no heir as offspring are copied, so the free slots
  // suffice and number mu again afterwards.
  const std::uint32_t none = static_cast<std::uint32_t>(mu_);
  std::fill_n(heir_.get(), mu_, none);
  for (std::size_t k = 0; k < mu_; ++k) {
    std::uint32_t& heir = heir_[parent_of_[selected_[k]]];
    if (heir == none) heir = static_cast<std::uint32_t>(k);
  }
  std::size_t taken = 0;
  for (std::size_t k = 0; k < mu_; ++k) {
    if (k % kCancelStride == 0) stop_if_cancelled(cancel);
    const std::size_t parent = parent_of_[selected_[k]];
    if (heir_[parent] == k) continue;
    const std::size_t from = parent_slot_[parent];
    const std::size_t to = free_slots_[taken++];
    std::memcpy(&alleles_[to * positions_], &alleles_[from * positions_], positions_);
    std::memcpy(&wrong_[to * blocks_], &wrong_[from * blocks_], blocks_ * sizeof(std::uint32_t));
    mutate(selected_[k], to);
    next_slot_[k] = static_cast<std::uint32_t>(to);
  }
  std::size_t freed = 0;
  for (std::size_t parent = 0; parent < mu_; ++parent) {
    if (parent % kCancelStride == 0) stop_if_cancelled(cancel);
    const std::uint32_t heir = heir_[parent];
    if (heir == none) {
      free_slots_[freed++] = parent_slot_[parent];
    } else {
      mutate(selected_[heir], parent_slot_[parent]);
      next_slot_[heir] = parent_slot_[parent];
    }
  }
  assert(freed == taken);
  parent_slot_.swap(next_slot_);
}

void Population::mutate(std::size_t c, std::size_t slot) {
  std::uint8_t* alleles = &alleles_[slot * positions_];
  std::uint32_t* wrong = &wrong_[slot * blocks_];
  for (std::size_t m = mutation_end_[c]; m < mutation_end_[c + 1]; ++m) {
    const auto p = static_cast<std::size_t>(mutations_[m].position());
    const std::size_t block = block_of(p);
    const std::size_t offset = p - block * block_length_;
    wrong[block] = wrong[block] + static_cast<std::uint32_t>(acceptable(alleles[p], offset)) -
                   static_cast<std::uint32_t>(acceptable(mutations_[m].allele(), offset));
    alleles[p] = mutations_[m].allele();
  }
  slot_levels_[slot] = levels_[c];
}

std::int32_t Population::offspring_parent(std::int32_t i) const {
  return static_cast<std::int32_t>(parent_of_[to_size(i)]);
}

std::span<const Mutation> Population::offspring_mutations(std::int32_t i) const {
  const std::size_t c = to_size(i);
  return {mutations_.data() + mutation_end_[c], mutation_end_[c + 1] - mutation_end_[c]};
}

std::int32_t Population::offspring_level(std::int32_t i) const {
  return levels_[to_size(i)];
}

std::int32_t Population::selected_offspring(std::int32_t k) const {
  return static_cast<std::int32_t>(selected_[to_size(k)]);
}

std::span<const std::uint8_t> Population::parent_alleles(std::int32_t k) const {
  return {&alleles_[parent_slot_[to_size(k)] * positions_], positions_};
}

std::span<const std::uint32_t> Population::parent_wrong_counts(std::int32_t k) const {
  return {&wrong_[parent_slot_[to_size(k)] * blocks_], blocks_};
}

std::int32_t Population::parent_level(std::int32_t k) const {
  return slot_levels_[parent_slot_[to_size(k)]];
}

}  // namespace blocklevels::simulation
