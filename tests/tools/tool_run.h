// Running the n47 program as a user does, and the bad-input fixture its tests share.
#ifndef N47_TESTS_TOOLS_TOOL_RUN_H
#define N47_TESTS_TOOLS_TOOL_RUN_H

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <array>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "image_io.h"
#include "support/temp_dir.h"

namespace n47tooltest {

struct ToolRun {
  int status = -1;
  std::string output;  // stdout and stderr together
};

// Everything the command writes on its standard output (the command decides about stderr).
inline ToolRun runShell(const std::string& command) {
  ToolRun run;
  std::FILE* pipe = popen(command.c_str(), "r");
  std::array<char, 4096> buffer{};
  std::size_t got = 0;
  while ((got = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) run.output.append(buffer.data(), got);
  const int status = pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

inline ToolRun n47(const std::string& arguments) {
  return runShell(std::string(N47_TOOL_PATH) + " " + arguments + " 2>&1");
}

inline std::string quoted(const std::string& path) { return "'" + path + "'"; }

inline std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class BadInput : public ::testing::Test {
 protected:
  void SetUp() override {
    n47tool::writeRawFrame(dir.file("good.raw"), n47tool::Frame(n47tool::kPixels, 1000));
    std::ofstream(dir.file("short.raw")) << "not a frame";
    for (const char* kept : kKept) std::ofstream(dir.file(kept)) << "existing output";
  }
  void expectRefused(const std::string& arguments, const std::string& mentions, int status = 1) {
    const ToolRun run = n47(arguments);
    EXPECT_EQ(run.status, status) << arguments << "\n" << run.output;
    EXPECT_NE(run.output.find("n47: "), std::string::npos) << run.output;
    EXPECT_NE(run.output.find(mentions), std::string::npos) << "message should mention " << mentions << ":\n" << run.output;
    for (const char* kept : kKept) {
      std::ifstream in(dir.file(kept));
      std::string content;
      std::getline(in, content);
      EXPECT_EQ(content, "existing output") << kept << " after " << arguments;
    }
  }
  std::string f(const char* name) const { return quoted(dir.file(name)); }
  static constexpr const char* kKept[] = {"keep.png", "keep.raw", "keep.map", "keep.tif"};
  n47test::TempDir dir;
};

}  // namespace n47tooltest

#endif
