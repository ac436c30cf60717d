// The signals the program treats as interrupts: each ends the process by
// itself after the buffered output has been written out.
#pragma once

#include <signal.h>

namespace blocklevels::runtime {

inline constexpr int kInterrupts[] = {SIGINT, SIGTERM, SIGHUP};

}  // namespace blocklevels::runtime
