#include "runtime/memory_room.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <optional>
#include <string>

#include "runtime/descriptors.hpp"

namespace blocklevels::runtime {
namespace {

// A small file's bytes (proc and cgroup files), or nothing.
std::optional<std::string> small_file(const std::string& path) {
  const int fd = above_standard(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd < 0) return std::nullopt;
  std::string text;
  char chunk[4096];
  ssize_t n = 0;
  while ((n = ::read(fd, chunk, sizeof chunk)) > 0) text.append(chunk, static_cast<std::size_t>(n));
  ::close(fd);
  if (n < 0) return std::nullopt;
  return text;
}

std::optional<std::uint64_t> number_at(std::string_view text, std::size_t at) {
  while (at < text.size() && (text[at] == ' ' || text[at] == '\t')) ++at;
  std::uint64_t v = 0;
  const auto [end, error] = std::from_chars(text.data() + at, text.data() + text.size(), v);
  if (error != std::errc() || end == text.data() + at) return std::nullopt;
  return v;
}

// "Key:   123 kB" of /proc/meminfo or /proc/self/status, in bytes.
std::optional<std::uint64_t> kilobytes(const std::optional<std::string>& text,
                                       std::string_view key) {
  if (!text) return std::nullopt;
  const std::size_t at = text->find(std::string(key) + ":");
  if (at == std::string::npos) return std::nullopt;
  const std::optional<std::uint64_t> kb = number_at(*text, at + key.size() + 1);
  if (!kb) return std::nullopt;
  return *kb * 1024;
}

std::optional<std::uint64_t> file_number(const std::string& path) {
  const std::optional<std::string> text = small_file(path);
  if (!text) return std::nullopt;
  return number_at(*text, 0);
}

// The process's cgroup path in the hierarchy whose /proc/self/cgroup line
// starts with `prefix` ("0::" for v2, or the v1 memory controller's).
std::optional<std::string> cgroup_path(std::string_view prefix) {
  const std::optional<std::string> text = small_file("/proc/self/cgroup");
  if (!text) return std::nullopt;
  std::size_t at = 0;
  while (at < text->size()) {
    std::size_t end = text->find('\n', at);
    if (end == std::string::npos) end = text->size();
    const std::string_view line(text->data() + at, end - at);
    const std::size_t found = line.find(prefix);
    if (found != std::string_view::npos && (found == 0 || line[found - 1] == ':')) {
      return std::string(line.substr(found + prefix.size()));
    }
    at = end + 1;
  }
  return std::nullopt;
}

void take(MemoryRoom& room, std::optional<std::uint64_t> bytes, std::string_view limit) {
  if (bytes && *bytes < room.bytes) room = {*bytes, limit};
}

// limit - used, when both are there and a limit is set.
std::optional<std::uint64_t> headroom(std::optional<std::uint64_t> limit,
                                      std::optional<std::uint64_t> used) {
  if (!limit || !used) return std::nullopt;
  return *limit > *used ? *limit - *used : 0;
}

}  // namespace

MemoryRoom memory_room() {
  MemoryRoom room;
  take(room, kilobytes(small_file("/proc/meminfo"), "MemAvailable"),
       "the system's available memory");
  if (const auto v2 = cgroup_path("0::")) {
    for (const char* mount : {"/sys/fs/cgroup", "/sys/fs/cgroup/unified"}) {
      const std::string dir = mount + *v2;
      take(room, headroom(file_number(dir + "/memory.max"), file_number(dir + "/memory.current")),
           "the cgroup's memory limit");
    }
  }
  if (const auto v1 = cgroup_path("memory:")) {
    const std::string dir = "/sys/fs/cgroup/memory" + *v1;
    take(room,
         headroom(file_number(dir + "/memory.limit_in_bytes"),
                  file_number(dir + "/memory.usage_in_bytes")),
         "the cgroup's memory limit");
  }
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    take(room, headroom(limit.rlim_cur, kilobytes(small_file("/proc/self/status"), "VmSize")),
         "the address-space limit (RLIMIT_AS)");
  }
  return room;
}

}  // namespace blocklevels::runtime
