#include "simulation/population.hpp"

#include <algorithm>
#include <cassert>
#include <cstring>
#include <new>
#include <utility>

#include "simulation/random_draws.hpp"

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

}  // namespace

Population::Population(const PointParameters& params)
    : lambda_(to_size(params.lambda)),
      mu_(to_size(params.mu)),
      block_length_(to_size(params.block_length)),
      two_option_(to_size(params.two_option_positions)),
      blocks_(to_size(params.blocks)),
      positions_(product(blocks_, block_length_)),
      mutations_(params.Pmut),
      parents_(mu_),
      ties_(lambda_),
      histogram_(blocks_ + 1) {
  assert_simulable(params);
  for (Pool& pool : pools_) {
    pool.alleles.resize(product(lambda_, positions_));
    pool.wrong.resize(product(lambda_, blocks_));
    pool.levels.resize(lambda_);
  }
}

void Population::start(pcg32& rng) {
  Pool& pool = pools_[0];
  const std::uint8_t missing = two_option_ == 0 ? 1 : 2;
  std::fill_n(pool.alleles.begin(), mu_ * positions_, std::uint8_t{0});
  for (std::size_t c = 0; c < mu_; ++c) {
    for (std::size_t b = 0; b < blocks_; ++b)
      pool.alleles[c * positions_ + b * block_length_] = missing;
  }
  std::fill_n(pool.wrong.begin(), mu_ * blocks_, std::uint32_t{1});
  std::fill_n(pool.levels.begin(), mu_, 0);
  parent_pool_ = 0;
  for (std::size_t k = 0; k < mu_; ++k) parents_[k] = static_cast<std::uint32_t>(k);
  mutations_.start(rng);
}

void Population::breed(pcg32& rng) {
  const Pool& from = pools_[parent_pool_];
  Pool& to = pools_[1 - parent_pool_];
  std::fill(histogram_.begin(), histogram_.end(), 0);
  const auto mu = static_cast<std::uint32_t>(mu_);
  for (std::size_t c = 0; c < lambda_; ++c) {
    const std::size_t parent = parents_[uniform_below(rng, mu)];
    std::uint8_t* alleles = to.alleles.data() + c * positions_;
    std::uint32_t* wrong = to.wrong.data() + c * blocks_;
    std::memcpy(alleles, from.alleles.data() + parent * positions_, positions_);
    std::memcpy(wrong, from.wrong.data() + parent * blocks_, blocks_ * sizeof(std::uint32_t));
    std::int32_t level = from.levels[parent];
    // A block's count moves between 0 and 1 exactly when its completeness
    // changes, and the level with it.
    mutations_.next_chromosome(positions_, rng, [&](std::uint64_t position) {
      const auto p = static_cast<std::size_t>(position);
      const std::size_t block = p / block_length_;
      const std::size_t offset = p - block * block_length_;
      const std::uint8_t old_allele = alleles[p];
      const std::uint8_t new_allele = other_allele(rng, old_allele);
      alleles[p] = new_allele;
      const bool was = acceptable(old_allele, offset);
      if (was == acceptable(new_allele, offset)) return;
      if (was) {
        if (wrong[block]++ == 0) --level;
      } else {
        if (--wrong[block] == 0) ++level;
      }
    });
    to.levels[c] = level;
    ++histogram_[static_cast<std::size_t>(level)];
  }
}

void Population::select(pcg32& rng) {
  // The threshold is the highest level with at least mu offspring at or above
  // it; it exists because level 0 has all lambda >= mu. Everything above it
  // is kept, and `need` of the `ties` at it.
  const auto mu = static_cast<std::int32_t>(mu_);
  std::int32_t above = 0;
  std::size_t threshold = blocks_;
  while (above + histogram_[threshold] < mu) above += histogram_[threshold--];
  const auto need = static_cast<std::size_t>(mu - above);

  const Pool& offspring = pools_[1 - parent_pool_];
  const auto limit = static_cast<std::int32_t>(threshold);
  std::size_t kept = 0;
  std::size_t ties = 0;
  for (std::size_t c = 0; c < lambda_; ++c) {
    const std::int32_t level = offspring.levels[c];
    if (level > limit) {
      parents_[kept++] = static_cast<std::uint32_t>(c);
    } else if (level == limit) {
      ties_[ties++] = static_cast<std::uint32_t>(c);
    }
  }
  // The first `need` steps of a Fisher-Yates shuffle put a uniformly chosen
  // subset of that size in front; with need == ties the subset is all of them.
  if (need < ties) {
    for (std::size_t i = 0; i < need; ++i) {
      const std::size_t j = i + uniform_below(rng, static_cast<std::uint32_t>(ties - i));
      std::swap(ties_[i], ties_[j]);
    }
  }
  std::copy_n(ties_.begin(), need, parents_.begin() + static_cast<std::ptrdiff_t>(kept));
  parent_pool_ = 1 - parent_pool_;
}

std::span<const std::uint8_t> Population::offspring_alleles(std::int32_t i) const {
  return {pools_[1 - parent_pool_].alleles.data() + to_size(i) * positions_, positions_};
}

std::span<const std::uint32_t> Population::offspring_wrong_counts(std::int32_t i) const {
  return {pools_[1 - parent_pool_].wrong.data() + to_size(i) * blocks_, blocks_};
}

std::int32_t Population::offspring_level(std::int32_t i) const {
  return pools_[1 - parent_pool_].levels[to_size(i)];
}

std::int32_t Population::selected_offspring(std::int32_t k) const {
  return static_cast<std::int32_t>(parents_[to_size(k)]);
}

}  // namespace blocklevels::simulation
