// Operating system error codes as the program's users see them.
#pragma once

namespace blocklevels::runtime {

// Translates a platform error code (errno) to the documented error number:
// missing paths 3, access refused 5, file in use 32, bad names 123,
// full disks 112, and the low 8 bits of any other code. Async-signal-safe.
int os_error_number(int platform_code);

}  // namespace blocklevels::runtime
