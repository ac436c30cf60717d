// The memory the process may still take, from proc and cgroup files made up
// in a temporary directory (cgroup v2 and v1, limits at two levels, none,
// a hierarchy mounted below its root), and from a real address-space limit.
#include "runtime/available_memory.hpp"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

namespace blocklevels::runtime {
namespace {

namespace fs = std::filesystem;

class FakeProc {
 public:
  FakeProc()
      : root_(fs::temp_directory_path() / ("available-memory-" + std::to_string(::getpid()))) {
    fs::remove_all(root_);
    fs::create_directories(root_ / "proc/self");
  }
  ~FakeProc() { fs::remove_all(root_); }

  // `path` below the root; the text written as it is.
  void write(const std::string& path, const std::string& text) const {
    fs::create_directories((root_ / path).parent_path());
    std::ofstream(root_ / path) << text;
  }
  void remove(const std::string& path) const { fs::remove_all(root_ / path); }
  // A mountinfo line mounting `type` (with super options) at `point` below the root.
  std::string mount(const std::string& root, const std::string& point, const std::string& type,
                    const std::string& options) const {
    return "30 22 0:27 " + root + " " + (root_ / point).string() + " rw - " + type + " " + type +
           " " + options + "\n";
  }
  AvailableMemory read() const { return available_memory({(root_ / "proc").string(), false}); }

 private:
  fs::path root_;
};

TEST(AvailableMemory, SmallestOfTheSystemsAndTheCgroupsHeadrooms) {
  struct Case {
    const char* name;
    std::string cgroup, mounts;
    std::vector<std::pair<std::string, std::string>> files;
    std::uint64_t bytes;
    MemoryLimit limit;
  };
  const FakeProc proc;
  const std::string v2 = proc.mount("/", "cg2", "cgroup2", "rw");
  const std::string v1 = proc.mount("/", "cg1", "cgroup", "rw,cpu,memory");
  const Case cases[] = {
      {"system only", "0::/\n", "", {}, 40960000000, MemoryLimit::system},
      {"v2, the parent's headroom the smallest",
       "0::/a/b\n",
       v2,
       {{"cg2/a/b/memory.max", "500000000\n"},
        {"cg2/a/b/memory.current", "100000000\n"},
        {"cg2/a/b/memory.stat", "anon 1\ninactive_file 50000000\nfile 9\n"},
        {"cg2/a/memory.max", "300000000\n"},
        {"cg2/a/memory.current", "200000000\n"}},
       100000000,
       MemoryLimit::cgroup},
      {"v2, inactive file pages added",
       "0::/a\n",
       v2,
       {{"cg2/a/memory.max", "3000000\n"},
        {"cg2/a/memory.current", "2500000\n"},
        {"cg2/a/memory.stat", "inactive_file 1000000\n"}},
       1500000,
       MemoryLimit::cgroup},
      {"v2 without a limit",
       "0::/a\n",
       v2,
       {{"cg2/a/memory.max", "max\n"}, {"cg2/a/memory.current", "7\n"}},
       40960000000,
       MemoryLimit::system},
      {"v2, usage above the limit",
       "0::/a\n",
       v2,
       {{"cg2/a/memory.max", "1000\n"}, {"cg2/a/memory.current", "5000\n"}},
       0,
       MemoryLimit::cgroup},
      {"v1 among other controllers, limit one level up",
       "5:cpu,memory:/x/y\n",
       v1,
       {{"cg1/x/y/memory.limit_in_bytes", "9223372036854771712\n"},
        {"cg1/x/y/memory.usage_in_bytes", "100\n"},
        {"cg1/x/memory.limit_in_bytes", "800000000\n"},
        {"cg1/x/memory.usage_in_bytes", "100000000\n"},
        {"cg1/x/memory.stat", "inactive_file 5\ntotal_inactive_file 1000000\n"}},
       701000000,
       MemoryLimit::cgroup},
      {"v1 without a limit",
       "4:memory:/x\n",
       v1,
       {{"cg1/x/memory.limit_in_bytes", "9223372036854771712\n"},
        {"cg1/x/memory.usage_in_bytes", "100\n"}},
       40960000000,
       MemoryLimit::system},
      {"v1 mounted below its root",
       "4:memory:/outer/inner\n",
       proc.mount("/outer", "cg1", "cgroup", "rw,memory"),
       {{"cg1/inner/memory.limit_in_bytes", "2000000\n"},
        {"cg1/inner/memory.usage_in_bytes", "1000000\n"}},
       1000000,
       MemoryLimit::cgroup},
      {"a v1 hierarchy without memory is not read",
       "4:cpu:/x\n",
       proc.mount("/", "cg1", "cgroup", "rw,cpu"),
       {{"cg1/x/memory.limit_in_bytes", "1\n"}, {"cg1/x/memory.usage_in_bytes", "0\n"}},
       40960000000,
       MemoryLimit::system},
  };
  for (const Case& c : cases) {
    proc.write("proc/meminfo", "MemTotal: 9000 kB\nMemFree: 10 kB\nMemAvailable:    40000000 kB\n");
    proc.write("proc/self/cgroup", c.cgroup);
    proc.write("proc/self/mountinfo", "22 1 8:1 / / rw - ext4 /dev/root rw\n" + c.mounts);
    proc.remove("cg1");
    proc.remove("cg2");
    for (const auto& [path, text] : c.files) proc.write(path, text);
    const AvailableMemory available = proc.read();
    EXPECT_EQ(available.bytes, c.bytes) << c.name;
    EXPECT_EQ(available.limit, c.limit) << c.name;
  }
}

TEST(AvailableMemory, NothingReadableIsNoLimit) {
  const AvailableMemory none = available_memory({"/nonexistent-proc", false});
  EXPECT_EQ(none.bytes, ~std::uint64_t{0});
  EXPECT_EQ(none.limit, MemoryLimit::none);
  // Nor is a cgroup v1 limit of 2^63 less a page, without MemAvailable.
  const FakeProc proc;
  proc.write("proc/self/cgroup", "4:memory:/x\n");
  proc.write("proc/self/mountinfo", proc.mount("/", "cg1", "cgroup", "rw,memory"));
  proc.write("cg1/x/memory.limit_in_bytes", "9223372036854771712\n");
  proc.write("cg1/x/memory.usage_in_bytes", "4096\n");
  EXPECT_EQ(proc.read().limit, MemoryLimit::none);
  EXPECT_EQ(kilobyte_field("VmSize:\t  1234 kB\nVmData: 8 kB\n", "VmSize"), 1234U * 1024);
  EXPECT_EQ(kilobyte_field("VmSizeX: 5 kB\n", "VmSize"), std::nullopt);
  EXPECT_EQ(kilobyte_field("VmSize: 5 MB\n", "VmSize"), std::nullopt);
}

// A child process limits its address space to 300 MB more than it has: the
// headroom is that limit's (its size moves by a few pages meanwhile), and
// below the system's.
TEST(AvailableMemory, AddressSpaceLimitIsCounted) {
#ifdef BLOCKLEVELS_SANITIZED
  GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space";
#endif
  const pid_t pid = ::fork();
  if (pid == 0) {
    const AvailableMemory before = available_memory();
    struct rlimit limit = {};
    ::getrlimit(RLIMIT_AS, &limit);
    const std::uint64_t size = [] {
      std::ifstream status("/proc/self/status");
      const std::string text((std::istreambuf_iterator<char>(status)), {});
      return kilobyte_field(text, "VmSize").value_or(0);
    }();
    limit.rlim_cur = size + (300U << 20);
    if (size == 0 || ::setrlimit(RLIMIT_AS, &limit) != 0) _exit(2);
    const AvailableMemory after = available_memory();
    const bool right = after.limit == MemoryLimit::address_space && after.bytes > (290U << 20) &&
                       after.bytes <= (300U << 20) && (before.bytes > (300U << 20));
    _exit(right ? 0 : 1);
  }
  int status = 0;
  ::waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace blocklevels::runtime
