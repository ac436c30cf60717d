#include "output/progress.hpp"

#include <cmath>
#include <cstdio>

#include "runtime/standard_error.hpp"

namespace blocklevels {

using runtime::write_standard_error;

void Progress::enable(bool on) {
  enabled_ = on;
  started_ = std::chrono::steady_clock::now();
  last_ = started_ - std::chrono::seconds(1);
}

std::string Progress::duration(double seconds) {
  const auto whole = static_cast<long>(std::floor(seconds < 0 ? 0 : seconds));
  char text[32];
  if (whole >= 3600) {
    std::snprintf(text, sizeof text, "%ld:%02ld:%02ld", whole / 3600, whole / 60 % 60, whole % 60);
  } else {
    std::snprintf(text, sizeof text, "%ld:%02ld", whole / 60, whole % 60);
  }
  return text;
}

void Progress::show(const std::string& what, double done) {
  if (!enabled_) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - last_ < std::chrono::milliseconds(250)) return;
  last_ = now;
  const double elapsed = std::chrono::duration<double>(now - started_).count();
  std::string line = "\r\033[K" + what + ", " + duration(elapsed) + " elapsed";
  if (done > 0 && done < 1 && elapsed >= 1) {
    line += ", about " + duration(elapsed * (1 - done) / done) + " left";
  }
  write_standard_error(line);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  write_standard_error("\r\033[K");
  shown_ = false;
}

}  // namespace blocklevels
