// Progress of a long study on standard error, when it is a terminal: one
// line, rewritten at most four times a second, with the time elapsed and,
// once a share of the work is done, an estimate of the time left.
#pragma once

#include <chrono>
#include <string>

namespace blocklevels {

class Progress {
 public:
  void enable(bool on);
  bool enabled() const { return enabled_; }
  // Shows "what, 0:12 elapsed, about 0:40 left" for `done` of the work
  // (0 to 1; no estimate before a second has passed or while nothing is
  // done), not more often than every 250 ms.
  void show(const std::string& what, double done);
  // Removes the line, so that other output starts on a clean line.
  void clear();

  // "0:07", "12:34", "1:02:03".
  static std::string duration(double seconds);

 private:
  bool enabled_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace blocklevels
