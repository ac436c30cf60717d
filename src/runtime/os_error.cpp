#include "runtime/os_error.hpp"

#include <sys/resource.h>

#include <cerrno>
#include <cstring>

#include "arithmetic/stop_numbers.hpp"

namespace blocklevels::runtime {

int os_error_number(int platform_code) {
  switch (platform_code) {
    case ENOENT:
    case ENOTDIR:
      return kPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return kAccessDenied;
    case ETXTBSY:
    case EBUSY:
      return kFileInUse;
    case ENAMETOOLONG:
    case EILSEQ:
      return kInvalidName;
    case ENOSPC:
    case EDQUOT:
      return kDiskFull;
    default:
      return platform_code & 0xFF;
  }
}

}  // namespace blocklevels::runtime

namespace blocklevels::runtime {

std::string_view os_error_meaning(int platform_code) {
  switch (platform_code) {
    case EPIPE:
      return "broken pipe";
    case EBADF:
      return "bad file descriptor (a closed stream)";
    case EMFILE:
      return "too many open files";
    case ENFILE:
      return "too many open files in the system";
    case EFBIG:
      return "file too large";
    case EIO:
      return "input/output error";
    default:
      return "";
  }
}

std::string os_error_words(int platform_code) {
  std::string words = std::strerror(platform_code);
  if (platform_code == EMFILE || platform_code == ENFILE) {
    rlimit limit{};
    if (platform_code == EMFILE && ::getrlimit(RLIMIT_NOFILE, &limit) == 0) {
      words +=
          " (at most " + std::to_string(limit.rlim_cur) + " at once; ulimit -n raises the limit)";
    }
  }
  return words;
}

}  // namespace blocklevels::runtime
