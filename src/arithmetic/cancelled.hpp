// A computation given up on its caller's request. The numeric core takes an
// optional std::stop_token and tests it at points where giving up leaves
// nothing half done (once per generation, once per matrix row); a request
// makes it throw Cancelled from there. An empty token is never requested,
// and testing it is one pointer test, so callers that never cancel (the
// dialogue, the command line) compute exactly as before.
#pragma once

#include <exception>
#include <stop_token>

namespace blocklevels {

class Cancelled : public std::exception {
 public:
  const char* what() const noexcept override { return "cancelled"; }
};

// Throws Cancelled when a stop was requested through `cancel`.
inline void stop_if_cancelled(const std::stop_token& cancel) {
  if (cancel.stop_requested()) throw Cancelled();
}

}  // namespace blocklevels
