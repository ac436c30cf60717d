// The memory this process may still take: the smallest of the headrooms the
// system sets, each read where Linux shows it.
//
//  - system: MemAvailable of /proc/meminfo, the kernel's estimate of what
//    can be allocated without swapping (free memory and the page cache and
//    slab it can reclaim: the reclaimable cache is in it already, so it is
//    not added again). Swap is not counted: a simulation that swaps does not
//    end in useful time.
//  - cgroup: for the process's memory cgroup and each one above it, its
//    limit minus its usage plus its inactive file pages (page cache charged
//    to it, which it reclaims before it runs out): memory.max,
//    memory.current and inactive_file of memory.stat under cgroup v2;
//    memory.limit_in_bytes, memory.usage_in_bytes and total_inactive_file
//    under v1. The hierarchies are found in /proc/self/mountinfo.
//  - address space and data segment: RLIMIT_AS minus VmSize and RLIMIT_DATA
//    minus VmData (/proc/self/status); every allocation counts against both.
//
// A figure that cannot be read (no such file, no limit set) is left out.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace blocklevels::runtime {

enum class MemoryLimit : std::uint8_t { none, system, cgroup, address_space, data_segment };

// For messages: "the system's available memory", "the cgroup's memory
// limit", "the address-space limit (RLIMIT_AS)", "the data-segment limit
// (RLIMIT_DATA)", or "no limit" for none.
const char* limit_in_words(MemoryLimit limit);

struct AvailableMemory {
  std::uint64_t bytes = ~std::uint64_t{0};  // all ones when no limit is known
  MemoryLimit limit = MemoryLimit::none;    // the one that gave `bytes`
};

// Where the figures are read: tests point `proc` at files of their own
// (meminfo, self/cgroup, self/mountinfo, self/status; the cgroup
// directories are where mountinfo says) and leave the resource limits out.
struct MemorySources {
  std::string proc = "/proc";
  bool resource_limits = true;
};

AvailableMemory available_memory(const MemorySources& sources = {});

// The value of a "Key: number [kB]" line of /proc/meminfo or
// /proc/self/status, in bytes; nothing when the key is missing.
std::optional<std::uint64_t> kilobyte_field(std::string_view text, std::string_view key);

}  // namespace blocklevels::runtime
