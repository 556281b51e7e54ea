#include "platform/replace_file.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <cstdio>
#endif

namespace n47 {

bool replaceFile(const char* source, const char* target) {
#if defined(_WIN32)
  return MoveFileExA(source, target, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
  return std::rename(source, target) == 0;
#endif
}

}  // namespace n47
