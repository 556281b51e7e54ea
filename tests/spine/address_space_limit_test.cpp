// Running out of memory for real: with the address space limited, creating the detector
// fails cleanly and a later creation succeeds once memory is back. Sanitizer builds reserve
// huge shadow regions, so this runs in the normal build only (label memory-limit).
#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "n47sim/sim_control.h"
#include "tavrin_n47.h"

namespace {

long mappedBytes() {
  std::ifstream statm("/proc/self/statm");
  long pages = 0;
  statm >> pages;
  return pages * sysconf(_SC_PAGESIZE);
}

TEST(AddressSpaceLimit, CreationFailsWithoutCrashingAndSucceedsOnceMemoryIsBack) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    n47sim_reset();
    n47sim_set_logging(0);
    rlimit original{};
    getrlimit(RLIMIT_AS, &original);
    // Room for a few small allocations, far too little for the detector's 45 MB of buffers.
    rlimit tight{static_cast<rlim_t>(mappedBytes() + 16L * 1024 * 1024), original.rlim_max};
    if (setrlimit(RLIMIT_AS, &tight) != 0) _exit(3);
    const int starved = Sys_Allocation_N47();
    const bool nothingKept = GetImagePtr() == nullptr && Sys_Free() == -1;
    setrlimit(RLIMIT_AS, &original);
    const int fed = Sys_Allocation_N47();
    const bool usable = GetImagePtr() != nullptr && Sys_Free() == 1;
    _exit(starved == 0 && nothingKept && fed == 1 && usable ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << "the child crashed";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

}  // namespace
