#include "model/tail_trajectory.hpp"

#include <cstring>

#include "arithmetic/cancelled.hpp"

namespace blocklevels {

TailGenerations::TailGenerations(const LevelMatrix& m, std::int32_t mu, std::int32_t lambda)
    : step_(m, mu, lambda), tail_(static_cast<std::size_t>(m.n())) {}

// Bit for bit: a recurrence of the doubles themselves.
bool TailGenerations::matches(const Checkpoint& saved) const {
  return std::memcmp(tail_.data(), saved.data(), tail_.size() * sizeof(double)) == 0;
}

bool TailGenerations::compute(const std::stop_token& cancel) {
  stop_if_cancelled(cancel);
  return step_.advance(tail_.data());
}

}  // namespace blocklevels
