#include "runtime/standard_streams.hpp"

#include <sys/stat.h>
#include <unistd.h>

namespace blocklevels::runtime {

std::optional<std::string_view> standard_stream_on(dev_t device, ino_t inode) {
  const std::pair<int, std::string_view> streams[] = {{STDOUT_FILENO, "standard output"},
                                                      {STDERR_FILENO, "standard error"}};
  for (const auto& [fd, name] : streams) {
    struct stat info {};
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_dev == device &&
        info.st_ino == inode) {
      return name;
    }
  }
  return std::nullopt;
}

std::optional<std::string_view> standard_stream_on_path(const std::string& path) {
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) return std::nullopt;
  return standard_stream_on(info.st_dev, info.st_ino);
}

std::optional<std::string_view> standard_stream_on_descriptor(int fd) {
  struct stat info {};
  if (::fstat(fd, &info) != 0) return std::nullopt;
  return standard_stream_on(info.st_dev, info.st_ino);
}

}  // namespace blocklevels::runtime
