#include "platform/sleep.h"

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <time.h>
#  include <errno.h>
#endif

namespace n47 {

void sleepOneMillisecond() {
#if defined(_WIN32)
  Sleep(1);
#else
  timespec remaining{0, 1000000};
  // A signal may cut the sleep short; finish the millisecond.
  while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
  }
#endif
}

}  // namespace n47
