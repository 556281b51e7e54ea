// Map-file loading through the exports with fuzzed contents, sizes and kinds of path. A load
// succeeds exactly when an ordinary file has the map's size, and then the active map holds
// the file's bytes; every other load answers 0 and leaves the active map as it was.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "api/detector_instance.h"
#include "fuzz_input.h"
#include "n47sim/sim_control.h"
#include "tavrin_n47.h"

namespace {

constexpr std::size_t kPixelMapBytes = 2049u * 1537u;
constexpr std::size_t kGainMapBytes = 2048u * 1536u * 4u;

struct Scratch {
  Scratch() {
    // Memory-backed when the system has it: large map files are written for many inputs.
    char shm[] = "/dev/shm/n47-map-fuzz-XXXXXX";
    char tmp[] = "/tmp/n47-map-fuzz-XXXXXX";
    char* pattern = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
    if (pattern == nullptr) std::abort();
    dir = pattern;
    file = dir + "/map";
    fifo = dir + "/fifo";
    link = dir + "/link";
    mkfifo(fifo.c_str(), 0600);
    if (symlink(file.c_str(), link.c_str()) != 0) std::abort();
  }
  ~Scratch() {
    for (const std::string& path : {file, fifo, link}) unlink(path.c_str());
    rmdir(dir.c_str());
  }
  std::string dir, file, fifo, link;
};

Scratch& scratch() {
  static Scratch s;
  return s;
}

// Copies the active map's bytes, row after row, into `bytes` (kept between inputs so that
// no input pays for fresh pages).
void snapshot(bool pixel, std::vector<std::uint8_t>& bytes) {
  const n47::Detector& d = *g_detector;
  bytes.reserve(kGainMapBytes);
  if (pixel) {
    bytes.resize(kPixelMapBytes);
    for (int r = 0; r < d.mapHeight; ++r) std::memcpy(bytes.data() + static_cast<std::size_t>(r) * d.mapWidth, d.pixelMap[r], d.mapWidth);
  } else {
    bytes.resize(kGainMapBytes);
    const std::size_t rowBytes = d.width * sizeof(float);
    for (int r = 0; r < d.height; ++r) std::memcpy(bytes.data() + r * rowBytes, d.gainMap[r], rowBytes);
  }
}

void writeFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) std::abort();
  if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) std::abort();
  std::fclose(f);
}

// `size` bytes repeating `pattern` (zeros when it is empty).
std::vector<std::uint8_t> tiled(const std::vector<std::uint8_t>& pattern, std::size_t size) {
  std::vector<std::uint8_t> bytes(size, 0);
  if (pattern.empty() || size == 0) return bytes;
  std::size_t filled = pattern.size() < size ? pattern.size() : size;
  std::memcpy(bytes.data(), pattern.data(), filled);
  while (filled < size) {  // doubling copies
    const std::size_t chunk = filled < size - filled ? filled : size - filled;
    std::memcpy(bytes.data() + filled, bytes.data(), chunk);
    filled += chunk;
  }
  return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  n47fuzz::FuzzInput input(data, size);
  Scratch& s = scratch();
  // One detector for the whole run: creating its buffers per input would dominate the time.
  static bool allocated = [] {
    n47sim_reset();
    n47sim_set_logging(0);
    return Sys_Allocation_N47() == 1;
  }();
  if (!allocated) std::abort();

  const std::uint8_t selector = input.byte();
  const bool pixel = (selector & 1) == 0;
  const std::size_t mapBytes = pixel ? kPixelMapBytes : kGainMapBytes;
  // A recognisable active map, so that a partial change would show.
  g_detector->pixelMap[5][6] = 2;
  g_detector->gainMap[7][8] = 1.75f;

  std::vector<std::uint8_t> rest(input.remaining());
  input.take(rest.data(), rest.size());

  std::vector<std::uint8_t> file;
  const char* path = s.file.c_str();
  bool expectLoad = false;
  // Cases 0 to 3 write whole maps (slow); the small raw files of the default case are where
  // most inputs go.
  switch ((selector >> 1) % 16) {
    case 0:  // the exact size
      file = tiled(rest, mapBytes);
      expectLoad = true;
      break;
    case 1: {  // a little short or long
      const int delta = static_cast<std::int8_t>(rest.empty() ? 1 : rest[0]);
      file = tiled(rest, mapBytes + (delta == 0 ? 1 : delta));
      break;
    }
    case 2:  // the other map's size
      file = tiled(rest, pixel ? kGainMapBytes : kPixelMapBytes);
      break;
    case 3:  // through a link to an exact file
      file = tiled(rest, mapBytes);
      path = s.link.c_str();
      expectLoad = true;
      break;
    case 4:
      path = s.fifo.c_str();
      break;
    case 5:
      path = (selector & 0x80) != 0 ? s.dir.c_str() : "/dev/null";
      break;
    case 6:
      path = (selector & 0x80) != 0 ? nullptr : "";
      break;
    default:  // the input as the whole file
      file = rest;
      expectLoad = file.size() == mapBytes;
      break;
  }
  writeFile(s.file, file);

  static std::vector<std::uint8_t> before, after;
  snapshot(pixel, before);
  const int loaded = pixel ? LoadPixelMap(path) : LoadGainMap(path);
  N47_FUZZ_CHECK(loaded == (expectLoad ? 1 : 0));
  snapshot(pixel, after);
  if (loaded == 1) {
    N47_FUZZ_CHECK(after == file);
  } else {
    N47_FUZZ_CHECK(after == before);
  }
  // The other map is never touched.
  if (pixel) {
    N47_FUZZ_CHECK(g_detector->gainMap[7][8] == 1.75f);
  } else {
    N47_FUZZ_CHECK(g_detector->pixelMap[5][6] == 2);
  }
  return 0;
}
