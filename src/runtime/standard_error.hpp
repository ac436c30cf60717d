// Standard error, the one way the program writes there: whole messages in
// single write() calls, unbuffered, so that they interleave with nothing.
#pragma once

#include <string_view>

namespace blocklevels::runtime {

// Writes the bytes as they are, retrying after interruptions; a standard
// error that cannot be written is ignored (there is nowhere else to say so).
void write_standard_error(std::string_view bytes) noexcept;

// "blocklevels: " + message + LF.
void say(std::string_view message);

}  // namespace blocklevels::runtime
