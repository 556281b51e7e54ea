#include "platform/regular_file.h"

#include <sys/stat.h>
#include <sys/types.h>

namespace n47 {

bool isRegularFile(const char* path) {
  if (path == nullptr) return false;
#if defined(_WIN32)
  struct _stat64 status;
  return _stat64(path, &status) == 0 && (status.st_mode & _S_IFMT) == _S_IFREG;
#else
  struct stat status;
  return stat(path, &status) == 0 && S_ISREG(status.st_mode);
#endif
}

}  // namespace n47
