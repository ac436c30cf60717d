#include "runtime/os_error.hpp"

#include <cerrno>

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
