// Progress of a long study on standard error, when it is a terminal: one
// line, rewritten at most a few times a second, with the elapsed time.
#pragma once

#include <chrono>
#include <string>

namespace blocklevels {

class Progress {
 public:
  void enable(bool on);
  bool enabled() const { return enabled_; }
  // Shows "what, N.N s", not more often than every 200 ms.
  void show(const std::string& what);
  // Removes the line, so that other output starts on a clean line.
  void clear();

 private:
  bool enabled_ = false;
  bool shown_ = false;
  std::chrono::steady_clock::time_point started_;
  std::chrono::steady_clock::time_point last_;
};

}  // namespace blocklevels
