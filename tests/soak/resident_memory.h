// Resident memory of this process, for the soak programs' growth checks.
#ifndef N47_TESTS_SOAK_RESIDENT_MEMORY_H
#define N47_TESTS_SOAK_RESIDENT_MEMORY_H

#include <unistd.h>

#include <fstream>

inline long residentKiB() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#endif
