#include "view/snapshot.h"

#include <sys/stat.h>

#include <chrono>
#include <cstdio>
#include <ctime>
#include <functional>

#include "image_io.h"
#include "nexus_writer.h"

namespace n47tool {
namespace {

struct SnapshotFormat {
  const char* extension;
  std::function<void(const std::string& path, const LiveFrame& frame, const std::string& description)> write;
};

// Each format a snapshot is written in, in this order.
const std::vector<SnapshotFormat>& snapshotFormats() {
  static const std::vector<SnapshotFormat> formats = {
      {".tif", [](const std::string& path, const LiveFrame& frame, const std::string& description) {
         writeTiff16(path, frame.pixels, description);
       }},
      {".h5", [](const std::string& path, const LiveFrame& frame, const std::string& description) {
         NexusContents contents;
         contents.description = description;
         contents.temperatures = true;
         NexusWriter writer(path, contents);
         writer.add(frame.pixels, frame.temperature);
         writer.finish();
       }},
  };
  return formats;
}

bool taken(const std::string& path) {
  struct stat info {};
  return ::lstat(path.c_str(), &info) == 0;
}

}  // namespace

std::string snapshotStem(const LiveFrame& frame) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(frame.captured);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "n47_%04d%02d%02d-%02d%02d%02d_frame%06ld", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, frame.number);
  return text;
}

std::vector<std::string> saveSnapshot(const std::string& folder, const LiveFrame& frame, const std::string& description) {
  // One stem for all formats, so the files of one snapshot sort together.
  std::string stem = snapshotStem(frame);
  const auto anyTaken = [&](const std::string& candidate) {
    for (const SnapshotFormat& format : snapshotFormats())
      if (taken(folder + "/" + candidate + format.extension)) return true;
    return false;
  };
  for (int copy = 2; anyTaken(stem); ++copy) stem = snapshotStem(frame) + "_" + std::to_string(copy);
  std::vector<std::string> names;
  for (const SnapshotFormat& format : snapshotFormats()) {
    const std::string name = stem + format.extension;
    format.write(folder + "/" + name, frame, description);
    names.push_back(name);
  }
  return names;
}

}  // namespace n47tool
