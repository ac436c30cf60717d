// The prepared models a study's points share: points (and a search's
// steps) with the same model, arithmetic and mutation (Pmut, b, acc, l)
// run on one matrix, whatever their mu, lambda and report times. Threads
// ask for them at once: the first to ask builds, the others wait for it.
// Bounded: beyond its budget the least recently used built models are
// forgotten, but one still in use lives on with its users (shared_ptr), so
// no run ever sees its model go.
#pragma once

#include <cstddef>
#include <cstdint>
#include <future>
#include <list>
#include <memory>
#include <mutex>

#include "model/prepared_model.hpp"
#include "parameters/point_parameters.hpp"

namespace blocklevels {

// What a prepared model of p is counted as in a cache's budget: the level
// model's (l + 1)^2 extended values, each in 16 bytes, as the literal
// matrix and the accurate point transitions hold about as many; a
// block-state model, whose size depends on the method chosen, is counted
// as a quarter of the budget so that at most four are kept.
std::uint64_t prepared_model_cost(const PointParameters& p, std::uint64_t budget);

// The prepared models a study's points share (the command line's and the
// Python package's): at most kModelCacheBytes (or an eighth of the memory
// the study may take, if less) and kModelCacheEntries models.
inline constexpr std::uint64_t kModelCacheBytes = std::uint64_t{64} << 20;
inline constexpr std::size_t kModelCacheEntries = 256;
inline std::uint64_t model_cache_budget(std::uint64_t memory_room) {
  return memory_room / 8 < kModelCacheBytes ? memory_room / 8 : kModelCacheBytes;
}

class ModelCache final : public ModelSource {
 public:
  // Keeps at most `entries` built models (at least 1), while their costs add
  // up to at most `budget` bytes (the last one asked for always, whatever
  // its cost). A lookup reads the entries one by one: a few hundred cost
  // well below a model's run.
  ModelCache(std::uint64_t budget, std::size_t entries)
      : budget_(budget), max_entries_(entries < 1 ? 1 : entries) {}

  // The model for p, built once. A build that throws (a Stop, a
  // cancellation, no memory) throws to every caller waiting for it and
  // leaves no entry: the next caller builds again.
  std::shared_ptr<const PreparedModel> prepared(const PointParameters& p,
                                                const std::stop_token& cancel) override;

  // Models built so far, and models kept now (for tests and the lead's
  // measurements).
  std::uint64_t builds() const;
  std::size_t kept() const;

 private:
  using Shared = std::shared_future<std::shared_ptr<const PreparedModel>>;
  struct Entry {
    PointParameters shape;
    Shared model;
    std::uint64_t cost = 0;
    bool built = false;
  };
  void evict();  // holds mutex_

  std::uint64_t budget_;
  std::size_t max_entries_;
  mutable std::mutex mutex_;
  std::list<Entry> entries_;  // most recently used first
  std::uint64_t cost_ = 0;    // of the built entries
  std::size_t built_ = 0;     // entries built
  std::uint64_t builds_ = 0;
};

}  // namespace blocklevels
