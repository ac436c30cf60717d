#include "runtime/available_memory.hpp"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <charconv>
#include <vector>

#include "runtime/descriptors.hpp"

namespace blocklevels::runtime {
namespace {

// A small file's bytes (the proc and cgroup files are a few kB at most);
// nothing when it cannot be read.
std::optional<std::string> read_file(const std::string& path) {
  const int fd = above_standard(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd < 0) return std::nullopt;
  std::string text;
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0) {
      ::close(fd);
      return std::nullopt;
    }
    if (n == 0) break;
    text.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(fd);
  return text;
}

// The lines of `text`, one at a time.
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const std::size_t end = text.find('\n');
    lines.push_back(text.substr(0, end));
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
  }
  return lines;
}

std::vector<std::string_view> words_of(std::string_view line) {
  std::vector<std::string_view> words;
  std::size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    const std::size_t start = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > start) words.push_back(line.substr(start, i - start));
  }
  return words;
}

std::optional<std::uint64_t> number(std::string_view word) {
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// A file holding one number and a line end.
std::optional<std::uint64_t> single_number(std::string_view text) {
  const std::vector<std::string_view> words = words_of(text.substr(0, text.find('\n')));
  return words.size() == 1 ? number(words[0]) : std::nullopt;
}

std::uint64_t saturating_product(std::uint64_t a, std::uint64_t b) {
  std::uint64_t product = 0;
  return __builtin_mul_overflow(a, b, &product) ? ~std::uint64_t{0} : product;
}

// limit - used + reclaimable, 0 when used is more.
std::uint64_t headroom(std::uint64_t limit, std::uint64_t used, std::uint64_t reclaimable) {
  const std::uint64_t room =
      limit > ~std::uint64_t{0} - reclaimable ? ~std::uint64_t{0} : limit + reclaimable;
  return room > used ? room - used : 0;
}

// The value of "key value" in a memory.stat file.
std::optional<std::uint64_t> stat_field(std::string_view text, std::string_view key) {
  for (const std::string_view line : lines_of(text)) {
    const std::vector<std::string_view> words = words_of(line);
    if (words.size() == 2 && words[0] == key) return number(words[1]);
  }
  return std::nullopt;
}

// A mount point as mountinfo writes it: space, tab, newline and backslash
// as three octal digits after a backslash.
std::string unescaped(std::string_view field) {
  std::string text;
  for (std::size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size()) {
      text += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                (field[i + 3] - '0'));
      i += 3;
    } else {
      text += field[i];
    }
  }
  return text;
}

// One memory cgroup hierarchy: the directory of the process's cgroup, the
// directory of the hierarchy's root, and which version's files it has.
struct Hierarchy {
  std::string cgroup;
  std::string root;
  bool v2 = true;
};

// The memory hierarchies mounted: cgroup2, and cgroup (v1) with the memory
// controller; each with the process's cgroup from self/cgroup.
std::vector<Hierarchy> hierarchies(const std::string& proc) {
  std::vector<Hierarchy> found;
  const std::optional<std::string> mountinfo = read_file(proc + "/self/mountinfo");
  const std::optional<std::string> cgroups = read_file(proc + "/self/cgroup");
  if (!mountinfo || !cgroups) return found;
  std::string v2_path, v1_path;
  bool has_v2 = false, has_v1 = false;
  for (const std::string_view line : lines_of(*cgroups)) {
    const std::size_t first = line.find(':'), second = line.find(':', first + 1);
    if (first == std::string_view::npos || second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    const std::string path(line.substr(second + 1));
    if (line.substr(0, first) == "0" && controllers.empty()) {
      v2_path = path, has_v2 = true;
    } else if (("," + std::string(controllers) + ",").find(",memory,") != std::string::npos) {
      v1_path = path, has_v1 = true;
    }
  }
  for (const std::string_view line : lines_of(*mountinfo)) {
    const std::vector<std::string_view> words = words_of(line);
    std::size_t dash = 0;
    while (dash < words.size() && words[dash] != "-") ++dash;
    if (dash < 6 || words.size() < dash + 4) continue;
    const std::string_view type = words[dash + 1];
    const bool v2 = type == "cgroup2";
    const bool v1 =
        type == "cgroup" &&
        ("," + std::string(words[dash + 3]) + ",").find(",memory,") != std::string::npos;
    if ((v2 && !has_v2) || (v1 && !has_v1) || (!v1 && !v2)) continue;
    const std::string mount_root(words[3]), mount_point = unescaped(words[4]);
    std::string path = v2 ? v2_path : v1_path;
    if (mount_root != "/") {
      if (path.compare(0, mount_root.size(), mount_root) != 0) continue;  // not visible here
      path.erase(0, mount_root.size());
    }
    while (!path.empty() && path.back() == '/') path.pop_back();
    found.push_back({mount_point + path, mount_point, v2});
  }
  return found;
}

// The smallest headroom of a hierarchy's cgroups, from the process's up to
// the root; nothing when none has a limit.
std::optional<std::uint64_t> cgroup_headroom(const Hierarchy& h) {
  std::optional<std::uint64_t> smallest;
  std::string dir = h.cgroup;
  for (;;) {
    const std::string limit =
        read_file(dir + (h.v2 ? "/memory.max" : "/memory.limit_in_bytes")).value_or("");
    const std::string usage =
        read_file(dir + (h.v2 ? "/memory.current" : "/memory.usage_in_bytes")).value_or("");
    const std::optional<std::string> stat = read_file(dir + "/memory.stat");
    // "max" in v2, and in v1 a limit near 2^63 (the page-rounded largest
    // value), mean none.
    const std::optional<std::uint64_t> l = single_number(limit);
    const std::optional<std::uint64_t> u = single_number(usage);
    if (l && u && *l < (std::uint64_t{1} << 62)) {
      const std::optional<std::uint64_t> inactive =
          stat ? stat_field(*stat, h.v2 ? "inactive_file" : "total_inactive_file") : std::nullopt;
      const std::uint64_t room = headroom(*l, *u, inactive.value_or(0));
      smallest = smallest ? std::min(*smallest, room) : room;
    }
    if (dir.size() <= h.root.size()) break;
    dir.erase(dir.rfind('/'));
  }
  return smallest;
}

// RLIMIT_AS or RLIMIT_DATA minus the process's current size of that kind.
std::optional<std::uint64_t> resource_headroom(int resource,
                                               const std::optional<std::string>& status,
                                               std::string_view key) {
  struct rlimit limit = {};
  if (::getrlimit(resource, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY || !status) {
    return std::nullopt;
  }
  const std::optional<std::uint64_t> used = kilobyte_field(*status, key);
  if (!used) return std::nullopt;
  return headroom(limit.rlim_cur, *used, 0);
}

}  // namespace

const char* limit_in_words(MemoryLimit limit) {
  switch (limit) {
    case MemoryLimit::system:
      return "the system's available memory";
    case MemoryLimit::cgroup:
      return "the cgroup's memory limit";
    case MemoryLimit::address_space:
      return "the address-space limit (RLIMIT_AS)";
    case MemoryLimit::data_segment:
      return "the data-segment limit (RLIMIT_DATA)";
    case MemoryLimit::none:
      break;
  }
  return "no limit";
}

std::optional<std::uint64_t> kilobyte_field(std::string_view text, std::string_view key) {
  for (const std::string_view line : lines_of(text)) {
    if (line.size() <= key.size() || line.compare(0, key.size(), key) != 0 ||
        line[key.size()] != ':') {
      continue;
    }
    const std::vector<std::string_view> words = words_of(line.substr(key.size() + 1));
    if (words.empty() || words.size() > 2 || (words.size() == 2 && words[1] != "kB")) {
      return std::nullopt;
    }
    const std::optional<std::uint64_t> value = number(words[0]);
    if (!value) return std::nullopt;
    return words.size() == 2 ? saturating_product(*value, 1024) : *value;
  }
  return std::nullopt;
}

AvailableMemory available_memory(const MemorySources& sources) {
  AvailableMemory available;
  auto take = [&](std::optional<std::uint64_t> bytes, MemoryLimit limit) {
    if (bytes && *bytes < available.bytes) available = {*bytes, limit};
  };
  if (const auto meminfo = read_file(sources.proc + "/meminfo")) {
    take(kilobyte_field(*meminfo, "MemAvailable"), MemoryLimit::system);
  }
  for (const Hierarchy& h : hierarchies(sources.proc))
    take(cgroup_headroom(h), MemoryLimit::cgroup);
  if (sources.resource_limits) {
    const std::optional<std::string> status = read_file(sources.proc + "/self/status");
    take(resource_headroom(RLIMIT_AS, status, "VmSize"), MemoryLimit::address_space);
    take(resource_headroom(RLIMIT_DATA, status, "VmData"), MemoryLimit::data_segment);
  }
  return available;
}

}  // namespace blocklevels::runtime
