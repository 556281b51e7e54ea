// The tool's outputs among things already in the folder: it used to write OUT.part by name,
// so a user's file there was overwritten and deleted, a link there redirected the output, and
// a FIFO there hung the tool; and an output onto a FIFO or device replaced it.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "support/temp_dir.h"

namespace {

namespace fs = std::filesystem;

// The exit status of n47 with `arguments`; -1 when it had to be stopped after 20 s.
int n47Status(const std::string& arguments) {
  const std::string command = "timeout 20 " + std::string(N47_TOOL_PATH) + " " + arguments + " >/dev/null 2>&1";
  const int status = std::system(command.c_str());
  if (!WIFEXITED(status) || WEXITSTATUS(status) == 124) return -1;
  return WEXITSTATUS(status);
}

TEST(N47OutputFiles, FilesLinksAndFifosOnTheOldTemporaryNameAreLeftAlone) {
  n47test::TempDir dir;
  const std::vector<std::uint8_t> mine{'m', 'i', 'n', 'e'};
  n47test::writeFileBytes(dir.file("victim"), mine);
  n47test::writeFileBytes(dir.file("a.raw.part"), mine);
  ASSERT_EQ(symlink(dir.file("victim").c_str(), dir.file("b.raw.part").c_str()), 0);
  ASSERT_EQ(mkfifo(dir.file("c.raw.part").c_str(), 0600), 0);
  for (const char* name : {"a.raw", "b.raw", "c.raw"}) {
    SCOPED_TRACE(name);
    EXPECT_EQ(n47Status("simulate dark '" + dir.file(name) + "'"), 0);
    EXPECT_EQ(fs::file_size(dir.file(name)), 2048u * 1536u * 2u);
  }
  EXPECT_EQ(n47test::readFileBytes(dir.file("a.raw.part")), mine);
  EXPECT_TRUE(fs::is_symlink(dir.file("b.raw.part")));
  EXPECT_EQ(n47test::readFileBytes(dir.file("victim")), mine);
  EXPECT_TRUE(fs::is_fifo(dir.file("c.raw.part")));
  EXPECT_EQ(dir.names().size(), 7u) << "no temporary was left behind";
}

TEST(N47OutputFiles, AnOutputOntoAFifoIsRefusedAndStaysAFifo) {
  n47test::TempDir dir;
  ASSERT_EQ(mkfifo(dir.file("out.raw").c_str(), 0600), 0);
  ASSERT_EQ(mkfifo(dir.file("out.png").c_str(), 0600), 0);
  EXPECT_EQ(n47Status("simulate flat '" + dir.file("out.raw") + "'"), 1);
  n47test::writeFileBytes(dir.file("flat.raw"), std::vector<std::uint8_t>(2048 * 1536 * 2, 7));
  EXPECT_EQ(n47Status("convert '" + dir.file("flat.raw") + "' '" + dir.file("out.png") + "'"), 1);
  EXPECT_TRUE(fs::is_fifo(dir.file("out.raw")));
  EXPECT_TRUE(fs::is_fifo(dir.file("out.png")));
  EXPECT_EQ(dir.names().size(), 3u);
}

}  // namespace
