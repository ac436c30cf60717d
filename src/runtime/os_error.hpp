// Operating system error codes as the program's users see them.
#pragma once

#include <string>
#include <string_view>

namespace blocklevels::runtime {

// Translates a platform error code (errno) to the documented error number:
// missing paths 3, access refused 5, file in use 32, bad names 123,
// full disks 112, and the low 8 bits of any other code. Async-signal-safe.
int os_error_number(int platform_code);

// A few system errors a run's streams meet, in the program's words ("broken
// pipe", "too many open files"), or "" for the others: these share their
// number with another meaning (EPIPE's 32 is also "file in use") or have
// none. Async-signal-safe.
std::string_view os_error_meaning(int platform_code);

// The error in words, for a message: the system's own ("No such file or
// directory"), and for too many open files the limit and how to raise it.
std::string os_error_words(int platform_code);

}  // namespace blocklevels::runtime
