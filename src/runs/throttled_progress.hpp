// A point's progress passed on as it comes, the same from a thread and from
// a process: the model's generation at most every 200 ms (a line of news a
// generation would flood the study), the simulated runs at every batch.
#pragma once

#include <chrono>
#include <cstdint>

#include "points/point_run.hpp"

namespace blocklevels {

class ThrottledProgress : public PointProgress {
 public:
  void model_reached(std::int64_t t) override {
    t_ = t;
    tell(false);
  }
  void runs_done(std::uint64_t done, std::uint64_t total) override {
    done_ = done;
    total_ = total;
    tell(true);
  }

 protected:
  ~ThrottledProgress() = default;
  // The progress so far: the model's last generation, the runs done of total.
  virtual void send(std::int64_t t, std::uint64_t done, std::uint64_t total) = 0;

 private:
  void tell(bool now) {
    const auto time = std::chrono::steady_clock::now();
    if (!now && time - last_ < std::chrono::milliseconds(200)) return;
    last_ = time;
    send(t_, done_, total_);
  }

  std::int64_t t_ = 0;
  std::uint64_t done_ = 0, total_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace blocklevels
