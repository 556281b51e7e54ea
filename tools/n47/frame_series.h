// Frames as the commands write and read them beyond single raw and picture files: a series
// into a multi-page TIFF or a NeXus file, fed frame by frame and stopped early if need be, and
// frames read back from raw, TIFF or NeXus.
#ifndef N47_TOOLS_FRAME_SERIES_H
#define N47_TOOLS_FRAME_SERIES_H

#include <functional>
#include <optional>
#include <string>

#include "image_io.h"
#include "map_analysis.h"
#include "nexus_writer.h"

namespace n47tool {

// Whether `--compress` asks for gzip; refused for an output other than NeXus.
bool gzipFor(const std::string& output, const std::string& compress);

// The detector's description in a NeXus file: the detector, then `what` the frames are.
NexusContents nexusContents(const std::string& what, bool gzip);

// The maps a correction uses, read before any work, to be stored beside the frames.
struct LoadedMaps {
  std::optional<PixelMap> pixelMap;
  std::optional<GainMap> gainMap;
  LoadedMaps(const std::string& pixelPath, const std::string& gainPath);
  // The maps, and whether the frames were corrected with them.
  void describe(NexusContents& contents, bool calibrationMode) const;
};

struct SeriesFrame {
  Frame frame;
  std::string description;           // a TIFF page's ImageDescription
  std::optional<double> temperature;  // NeXus: the temperature at capture
};
// Fills frame `index`; false ends the series before it (never for the first).
using SeriesSource = std::function<bool(int index, SeriesFrame& frame)>;

// Up to `frames` frames into a multi-page TIFF, or into a NeXus file (.h5, .nxs) holding
// `nexus`; the frames taken when the source stops are kept as a complete file. Returns them.
int writeFrameSeries(const std::string& path, int frames, const SeriesSource& source, const NexusContents& nexus);

void writeNexusFrame(const std::string& path, const Frame& frame, const NexusContents& contents);

// A frame from raw, TIFF or NeXus; `dataset` and `index` pick it from a NeXus file, whose
// `description` then says which it was.
Frame readAnyFrame(const std::string& path, std::string* description = nullptr, const std::string& dataset = "",
                   int index = 0);

}  // namespace n47tool

#endif
