#include <cstdio>

#include "commands.h"

#ifdef _WIN32
#include <io.h>
#define N47_ISATTY _isatty
#define N47_FILENO _fileno
#else
#include <unistd.h>
#define N47_ISATTY isatty
#define N47_FILENO fileno
#endif

namespace n47tool {
namespace {

// Carriage returns redraw one line on a terminal; in a log or a pipe they pile up into one
// unreadable line, so there each finished step gets a line of its own.
bool onTerminal() {
  static const bool terminal = N47_ISATTY(N47_FILENO(stderr)) != 0;
  return terminal;
}

}  // namespace

void showProgress(const std::string& what, int done, int total, double perSecond) {
  char rate[48] = "";
  if (perSecond > 0.0) std::snprintf(rate, sizeof rate, "  %.1f frames/s", perSecond);
  if (onTerminal()) {
    std::fprintf(stderr, "\r%-40s %3d/%d%-22s", what.c_str(), done, total, rate);
  } else {
    std::fprintf(stderr, "%s %d/%d%s\n", what.c_str(), done, total, rate);
  }
  std::fflush(stderr);
}

void finishProgress() {
  if (onTerminal()) std::fprintf(stderr, "\n");
}

}  // namespace n47tool
