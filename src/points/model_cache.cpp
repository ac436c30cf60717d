#include "points/model_cache.hpp"

#include <algorithm>

namespace blocklevels {

std::uint64_t prepared_model_cost(const PointParameters& p, std::uint64_t budget) {
  if (p.model == ModelKind::block_state) return budget / 4;
  // blocks <= 2^31 - 1: (l + 1)^2 < 2^62, times 16 would not fit; saturate.
  const auto side = static_cast<std::uint64_t>(p.blocks) + 1;
  const std::uint64_t values = side * side;
  return values > (~std::uint64_t{0} >> 4) ? ~std::uint64_t{0} : values * 16;
}

std::shared_ptr<const PreparedModel> ModelCache::prepared(const PointParameters& p,
                                                          const std::stop_token& cancel) {
  std::unique_lock lock(mutex_);
  const auto found = std::find_if(entries_.begin(), entries_.end(),
                                  [&](const Entry& e) { return same_preparation(e.shape, p); });
  if (found != entries_.end()) {
    entries_.splice(entries_.begin(), entries_, found);
    const Shared model = found->model;
    lock.unlock();
    return model.get();  // waits for its builder; rethrows what the build threw
  }
  std::promise<std::shared_ptr<const PreparedModel>> promise;
  entries_.push_front({p, promise.get_future().share(), prepared_model_cost(p, budget_), false});
  ++builds_;
  lock.unlock();
  // Built outside the lock: other shapes are served meanwhile.
  std::shared_ptr<const PreparedModel> model;
  try {
    model = std::make_shared<const PreparedModel>(p, cancel);
  } catch (...) {
    promise.set_exception(std::current_exception());
    lock.lock();
    entries_.remove_if([&](const Entry& e) { return !e.built && same_preparation(e.shape, p); });
    throw;
  }
  promise.set_value(model);
  lock.lock();
  for (Entry& e : entries_) {
    if (e.built || !same_preparation(e.shape, p)) continue;
    e.built = true;
    cost_ += e.cost;
    ++built_;
  }
  evict();
  return model;
}

// The least recently used built entries go until the rest fit the budget
// and the count; the most recent one stays. An entry still being built is
// never counted nor forgotten: its waiters hold its future.
void ModelCache::evict() {
  auto e = entries_.end();
  while ((cost_ > budget_ || built_ > max_entries_) && e != entries_.begin()) {
    --e;
    if (!e->built || e == entries_.begin()) continue;
    cost_ -= e->cost;
    --built_;
    e = entries_.erase(e);
  }
}

std::uint64_t ModelCache::builds() const {
  const std::lock_guard lock(mutex_);
  return builds_;
}

std::size_t ModelCache::kept() const {
  const std::lock_guard lock(mutex_);
  return entries_.size();
}

}  // namespace blocklevels
