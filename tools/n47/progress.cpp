#include <cstdio>

#include "commands.h"

namespace n47tool {

void showProgress(const std::string& what, int done, int total) {
  std::fprintf(stderr, "\r%-40s %3d/%d", what.c_str(), done, total);
  std::fflush(stderr);
}

void finishProgress() { std::fprintf(stderr, "\n"); }

}  // namespace n47tool
