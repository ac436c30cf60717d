#include "output/progress.hpp"

#include <cstdio>

#include "runtime/standard_error.hpp"

namespace blocklevels {

using runtime::write_standard_error;

void Progress::enable(bool on) {
  enabled_ = on;
  started_ = std::chrono::steady_clock::now();
  last_ = started_ - std::chrono::seconds(1);
}

void Progress::show(const std::string& what) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(200)) return;
  last_ = now;
  char elapsed[32];
  std::snprintf(elapsed, sizeof elapsed, ", %.1f s",
                std::chrono::duration<double>(now - started_).count());
  write_standard_error("\r\033[K" + what + elapsed);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  write_standard_error("\r\033[K");
  shown_ = false;
}

}  // namespace blocklevels
