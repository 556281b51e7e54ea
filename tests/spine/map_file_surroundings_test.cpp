// Map files among things a user or another program left in the folder: special files at the
// target, files and links squatting on a temporary's name, linked targets, permissions, a
// second process saving the same file, and a path swapped for a FIFO while it is loaded.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <stdio.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <random>
#include <thread>
#include <vector>

#include "support/child_process.h"
#include "support/detector_fixture.h"
#include "support/temp_dir.h"
#include "tavrin_n47.h"

namespace {

namespace fs = std::filesystem;

constexpr std::size_t kPixelMapBytes = 3149313;

class MapFileSurroundings : public n47test::DetectorTest {
 protected:
  void fillNewPixelMap(unsigned seed) {
    std::mt19937 rng(seed);
    for (int r = 0; r < d_->mapHeight; ++r)
      for (int c = 0; c < d_->mapWidth; ++c) d_->newPixelMap[r][c] = static_cast<std::uint8_t>(rng());
  }
  std::vector<std::uint8_t> newPixelMapBytes() const {
    std::vector<std::uint8_t> bytes;
    for (int r = 0; r < d_->mapHeight; ++r)
      bytes.insert(bytes.end(), d_->newPixelMap[r], d_->newPixelMap[r] + d_->mapWidth);
    return bytes;
  }
  n47test::TempDir dir_;
};

// A save onto a device, FIFO or socket would have replaced it with a regular file (run as
// root, SavePixelMap("/dev/null") turned /dev/null into a map). A FIFO would also block a
// writer that opened it. Each is refused and stays what it was.
TEST_F(MapFileSurroundings, SavesRefuseDevicesFifosAndSocketsAndTouchThemNot) {
  std::vector<std::string> specials;
  ASSERT_EQ(mkfifo(dir_.file("fifo").c_str(), 0600), 0);
  specials.push_back("fifo");
  const int listener = socket(AF_UNIX, SOCK_STREAM, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  const std::string socketPath = dir_.file("socket");
  ASSERT_LT(socketPath.size(), sizeof(address.sun_path));
  socketPath.copy(address.sun_path, socketPath.size());
  ASSERT_EQ(bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
  specials.push_back("socket");
  if (mknod(dir_.file("null").c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0) specials.push_back("null");  // root only
  ASSERT_EQ(symlink(dir_.file("fifo").c_str(), dir_.file("link-to-fifo").c_str()), 0);
  specials.push_back("link-to-fifo");
  ASSERT_EQ(symlink(dir_.file("nowhere").c_str(), dir_.file("dangling-link").c_str()), 0);
  specials.push_back("dangling-link");

  const auto before = dir_.names();
  for (const auto& name : specials) {
    SCOPED_TRACE(name);
    const std::string path = dir_.file(name);
    const int result = n47test::runInChild([&] { return SavePixelMap(path.c_str()) * 10 + SaveGainMap(path.c_str()); }, 20);
    EXPECT_EQ(result, 0);
  }
  EXPECT_EQ(dir_.names(), before) << "nothing was created or removed";
  EXPECT_TRUE(fs::is_fifo(dir_.file("fifo")));
  EXPECT_TRUE(fs::is_socket(dir_.file("socket")));
  EXPECT_TRUE(fs::is_symlink(dir_.file("link-to-fifo")));
  EXPECT_FALSE(fs::exists(dir_.file("nowhere")));
  if (specials.size() == 6) {
    EXPECT_TRUE(fs::is_character_file(dir_.file("null")));
  }
  close(listener);
}

// The old fixed name PATH.tmp was opened with fopen: a user's file of that name was
// overwritten and deleted, a link there redirected the map bytes into the file it named, and
// a FIFO there hung the save. Whatever squats on such a name is left alone now.
TEST_F(MapFileSurroundings, FilesAndLinksOnATemporarysNameAreLeftAlone) {
  fillNewPixelMap(11);
  const std::vector<std::uint8_t> usersBytes{'m', 'i', 'n', 'e'};
  n47test::writeFileBytes(dir_.file("victim"), usersBytes);
  struct Squatter {
    const char* target;
    std::function<void(const std::string&)> make;
    std::function<bool(const std::string&)> unchanged;
  };
  const std::vector<Squatter> squatters{
      {"file.map", [&](const std::string& p) { n47test::writeFileBytes(p, usersBytes); },
       [&](const std::string& p) { return n47test::readFileBytes(p) == usersBytes; }},
      {"link.map", [&](const std::string& p) { ASSERT_EQ(symlink(dir_.file("victim").c_str(), p.c_str()), 0); },
       [&](const std::string& p) { return fs::is_symlink(p) && n47test::readFileBytes(dir_.file("victim")) == usersBytes; }},
      {"fifo.map", [](const std::string& p) { ASSERT_EQ(mkfifo(p.c_str(), 0600), 0); },
       [](const std::string& p) { return fs::is_fifo(p); }},
  };
  for (const auto& squatter : squatters) {
    SCOPED_TRACE(squatter.target);
    const std::string target = dir_.file(squatter.target);
    for (const char* suffix : {".tmp", ".part"}) squatter.make(target + suffix);
    EXPECT_EQ(n47test::runInChild([&] { return SavePixelMap(target.c_str()); }, 20), 1);
    for (const char* suffix : {".tmp", ".part"}) EXPECT_TRUE(squatter.unchanged(target + suffix)) << suffix;
    EXPECT_EQ(n47test::readFileBytes(target), newPixelMapBytes());
  }
  EXPECT_EQ(dir_.names().size(), 1 + 3 * 3u) << "no temporary was left behind";
}

// A map saved through a link replaces the file the link points to; the link stays, and an
// existing file keeps its permission bits (a map made read-only for the group stays so).
TEST_F(MapFileSurroundings, LinkedTargetsAreFollowedAndPermissionBitsKept) {
  fillNewPixelMap(12);
  fs::create_directory(dir_.file("maps"));
  const std::string real = dir_.file("maps/real.map");
  n47test::writeFileBytes(real, {1, 2, 3});
  ASSERT_EQ(chmod(real.c_str(), 0640), 0);
  ASSERT_EQ(symlink("maps/real.map", dir_.file("current.map").c_str()), 0);

  ASSERT_EQ(SavePixelMap(dir_.file("current.map").c_str()), 1);
  EXPECT_TRUE(fs::is_symlink(dir_.file("current.map")));
  EXPECT_EQ(n47test::readFileBytes(real), newPixelMapBytes());
  struct stat status;
  ASSERT_EQ(stat(real.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(dir_.names(), (std::vector<std::string>{"current.map", "maps"}));
  EXPECT_EQ(fs::directory_iterator(dir_.file("maps"))->path().filename(), "real.map");
}

// Two processes saving one path at once each write a temporary of their own; every save
// succeeds and a reader only ever finds one complete map or the other.
TEST_F(MapFileSurroundings, TwoProcessesSavingOnePathNeverLeaveAMixedFile) {
  const std::string path = dir_.file("shared.map");
  fillNewPixelMap(21);
  const auto first = newPixelMapBytes();
  ASSERT_EQ(SavePixelMap(path.c_str()), 1);
  fillNewPixelMap(22);
  const auto second = newPixelMapBytes();
  constexpr int kSaves = 15;
  const auto saver = [&](unsigned seed) {
    fillNewPixelMap(seed);
    int saved = 0;
    for (int i = 0; i < kSaves; ++i) saved += SavePixelMap(path.c_str());
    return saved;
  };
  const auto one = n47test::startChild([&] { return saver(21); }, 120);
  const auto other = n47test::startChild([&] { return saver(22); }, 120);
  std::atomic<bool> done{false};
  int reads = 0, bad = 0;
  std::thread reader([&] {
    while (!done) {
      const auto bytes = n47test::readFileBytes(path);
      ++reads;
      if (bytes != first && bytes != second) ++bad;
    }
  });
  const int savedByOne = n47test::waitForChild(one);
  const int savedByOther = n47test::waitForChild(other);
  done = true;
  reader.join();
  EXPECT_EQ(savedByOne, kSaves);
  EXPECT_EQ(savedByOther, kSaves);
  EXPECT_EQ(bad, 0) << "of " << reads << " reads";
  EXPECT_EQ(dir_.names(), std::vector<std::string>{"shared.map"});
}

// The file's type is checked on what was opened, not on the path beforehand: a path that
// keeps changing between a map file and a FIFO never hangs a load, and a load succeeds only
// on the map.
TEST_F(MapFileSurroundings, APathSwappedForAFifoDuringLoadsNeverHangs) {
  const std::string path = dir_.file("p.map");
  const std::string other = dir_.file("other");
  n47test::writeFileBytes(path, std::vector<std::uint8_t>(kPixelMapBytes, 1));
  ASSERT_EQ(mkfifo(other.c_str(), 0600), 0);
  const auto loader = n47test::startChild([&] {
    for (int i = 0; i < 300; ++i) LoadPixelMap(path.c_str());
    return 0;
  }, 30);
  std::atomic<bool> done{false};
  std::thread swapper([&] {
    while (!done) renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, other.c_str(), RENAME_EXCHANGE);
  });
  const int status = n47test::waitForChild(loader);
  done = true;
  swapper.join();
  EXPECT_EQ(status, 0) << "a load hung on the FIFO";
}

}  // namespace
