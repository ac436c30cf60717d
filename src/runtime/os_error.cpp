#include "runtime/os_error.hpp"

#include <cerrno>

namespace blocklevels::runtime {

int os_error_number(int platform_code) {
  switch (platform_code) {
    case ENOENT:
    case ENOTDIR:
      return 3;
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
      return 5;
    case ETXTBSY:
    case EBUSY:
      return 32;
    case ENAMETOOLONG:
    case EILSEQ:
      return 123;
    case ENOSPC:
    case EDQUOT:
      return 112;
    default:
      return platform_code & 0xFF;
  }
}

}  // namespace blocklevels::runtime
