// What the programs that load the driver as an application does share: the export table as
// generated from src/api/exports.csv, and the count of checks they print at the end.
#ifndef N47_TESTS_WINDOWS_HOST_SUPPORT_H
#define N47_TESTS_WINDOWS_HOST_SUPPORT_H

#include <cstdio>
#include <string>

#if defined(_WIN32)
#  ifndef WIN32_LEAN_AND_MEAN
#    define WIN32_LEAN_AND_MEAN
#  endif
#  include <windows.h>
#else
#  include <dlfcn.h>
#endif

namespace n47host {

// The table lists the exports in ordinal order, so e::Name + 1 is the ordinal of Name.
namespace e {
enum Export {
#define N47_EXPORT(name, ordinal, bytes) name,
#include "n47_export_table.inc"
#undef N47_EXPORT
  kExportCount
};
}  // namespace e

struct ExportInfo {
  const char* name;
  int ordinal;
  int argumentBytes;
};

inline constexpr ExportInfo kExports[e::kExportCount] = {
#define N47_EXPORT(name, ordinal, bytes) {#name, ordinal, bytes},
#include "n47_export_table.inc"
#undef N47_EXPORT
};

inline int g_checks = 0;
inline int g_failures = 0;

inline void check(bool ok, const std::string& what) {
  ++g_checks;
  if (!ok) {
    ++g_failures;
    std::fprintf(stderr, "FAIL: %s\n", what.c_str());
  }
}

// Prints the closing "N checks, M failed" line; the program's exit status.
inline int checkSummary() {
  std::fprintf(stderr, "%d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}

}  // namespace n47host

#endif
