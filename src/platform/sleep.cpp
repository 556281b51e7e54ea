#include "platform/sleep.h"

#if defined(_WIN32)
#  include "platform/windows_headers.h"
#else
#  include <time.h>
#  include <errno.h>
#endif

namespace n47 {
namespace {

SleepFunction g_sleeper = nullptr;

}  // namespace

SleepFunction exchangeSleepFunction(SleepFunction sleeper) {
  const SleepFunction previous = g_sleeper;
  g_sleeper = sleeper;
  return previous;
}

void sleepOneMillisecond() {
  if (g_sleeper != nullptr) {
    g_sleeper();
    return;
  }
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
