#include "frame_series.h"

#include <filesystem>
#include <stdexcept>

namespace n47tool {

bool gzipFor(const std::string& output, const std::string& compress) {
  if (compress == "none" || compress.empty()) return false;
  if (compress != "gzip") throw std::runtime_error("--compress takes gzip or none (got " + compress + ")");
  if (!isNexusPath(output)) throw std::runtime_error(output + ": --compress applies to .h5 and .nxs outputs only");
  return true;
}

NexusContents nexusContents(const std::string& what, bool gzip) {
  NexusContents contents;
  contents.description = "N47 flat-panel X-ray detector, 2048 x 1536 pixels, 14-bit readout; " + what;
  contents.gzip = gzip;
  return contents;
}

LoadedMaps::LoadedMaps(const std::string& pixelPath, const std::string& gainPath) {
  if (!pixelPath.empty()) pixelMap = readPixelMap(pixelPath);
  if (!gainPath.empty()) gainMap = readGainMap(gainPath);
}

void LoadedMaps::describe(NexusContents& contents, bool calibrationMode) const {
  contents.pixelMaskApplied = pixelMap.has_value();
  contents.flatfieldApplied = gainMap.has_value() && !calibrationMode;
  contents.pixelMap = pixelMap ? &*pixelMap : nullptr;
  contents.flatfield = gainMap ? &*gainMap : nullptr;
}

int writeFrameSeries(const std::string& path, int frames, const SeriesSource& source, const NexusContents& nexus) {
  SeriesFrame next;
  if (!isNexusPath(path)) {
    return writeTiffPages(path, frames, [&](int index, Frame& frame, std::string& description) {
      if (!source(index, next)) return false;
      frame.swap(next.frame);
      description.swap(next.description);
      return true;
    });
  }
  NexusWriter writer(path, nexus);
  for (int index = 0; index < frames && source(index, next); ++index) writer.add(next.frame, next.temperature);
  writer.finish();
  return writer.frames();
}

void writeNexusFrame(const std::string& path, const Frame& frame, const NexusContents& contents) {
  NexusWriter writer(path, contents);
  writer.add(frame);
  writer.finish();
}

Frame readAnyFrame(const std::string& path, std::string* description, const std::string& dataset, int index) {
  if (!isNexusPath(path)) return readFrame(path, description);
  if (description != nullptr) {
    *description = "frame " + std::to_string(index) + " of " + (dataset.empty() ? "the default NXdata" : dataset) +
                   " in " + std::filesystem::path(path).filename().string();
  }
  return readNexusFrame(path, dataset, index);
}

}  // namespace n47tool
