// Whether a file the program reads or writes is also where its standard
// output or error goes: `--csv s.csv > s.csv` would put summary lines among
// the table's rows, and `merge a0.csv a1.csv >> a0.csv` would write the
// merged table into a shard it is still reading. Files are compared by
// device and inode; only regular files count (a terminal, a pipe or
// /dev/null shared by two streams harms nothing).
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <string_view>

namespace blocklevels::runtime {

// "standard output" or "standard error" when that stream is the regular
// file with this device and inode; nothing otherwise.
std::optional<std::string_view> standard_stream_on(dev_t device, ino_t inode);

// The same for the file at `path` (followed through links), or for the
// open descriptor `fd`; nothing when it does not exist.
std::optional<std::string_view> standard_stream_on_path(const std::string& path);
std::optional<std::string_view> standard_stream_on_descriptor(int fd);

}  // namespace blocklevels::runtime
