// Places in the program's code, as printed in the stop report.
#pragma once

#include <cstdint>

namespace blocklevels::runtime {

// Records where the executable was loaded. Called once at start-up, before
// anything can stop the run; the lookup is not async-signal-safe.
void record_load_address();

// The offset of a code address within the executable, reduced to 32 bits:
// the value `addr2line -e blocklevels 0x...` expects; 0 for the address 0
// (no place). Async-signal-safe.
std::uint32_t code_offset(std::uintptr_t address);

}  // namespace blocklevels::runtime
