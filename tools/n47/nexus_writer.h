// Frames, maps and calibration series as NeXus/HDF5, the layout the field's readers open
// without conversion:
//
//   /                                  default = "entry"
//   /entry                             NXentry, default = "data"; start_time, end_time,
//                                      program_name (attribute version)
//   /entry/instrument                  NXinstrument
//   /entry/instrument/detector         NXdetector
//       data                           uint16 (frames, 1536, 2048), one frame a chunk
//       saturation_value, bit_depth_readout, description
//       temperature                    float32 (frames), degC, when the frames came with one
//       flatfield_applied, pixel_mask_applied   when known
//       flatfield                      float32 (1536, 2048), the gain map as loaded
//       pixel_mask                     uint32 (1536, 2048), bits as pixelMask() sets them
//   /entry/data                        NXdata, signal = "data", a hard link to the frames
//
// The file is written like every other output: a unique temporary beside the target, renamed
// over it by finish(); a writer destroyed unfinished removes its temporary.
#ifndef N47_TOOLS_NEXUS_WRITER_H
#define N47_TOOLS_NEXUS_WRITER_H

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "image_io.h"
#include "map_analysis.h"

namespace n47tool {

// Bits of the NeXus pixel_mask. Readers that know only the NeXus bits see every pixel the map
// marks as dead (bit 1); the higher bits, which the NeXus convention leaves undefined, say why.
inline constexpr std::uint32_t kMaskDead = 1u << 1;
inline constexpr std::uint32_t kMaskDefectiveCell = 1u << 9;  // the pixel's own cell is non-zero
inline constexpr std::uint32_t kMaskCode2 = 1u << 10;         // ... and is 2 (the code-2 repair)
inline constexpr std::uint32_t kMaskMarkedRow = 1u << 11;     // its row's marker is non-zero
inline constexpr std::uint32_t kMaskMarkedColumn = 1u << 12;  // its column's marker is non-zero

// 1536 x 2048 mask words of a pixel map.
std::vector<std::uint32_t> pixelMask(const PixelMap& map);

bool isNexusPath(const std::string& path);  // .h5, .hdf5 or .nxs

struct NexusContents {
  std::string description;  // of the detector and of what the frames are
  bool gzip = false;        // deflate with the shuffle filter on the frames and maps
  bool frames = true;       // false: maps alone, the NXdata showing the first map written
  bool temperatures = false;
  std::optional<bool> flatfieldApplied, pixelMaskApplied;
  const GainMap* flatfield = nullptr;
  const PixelMap* pixelMap = nullptr;
};

// Fed frame by frame; a series stopped early keeps the frames added before finish().
class NexusWriter {
 public:
  // Creates the temporary and everything but the frames; throws std::runtime_error.
  NexusWriter(const std::string& path, const NexusContents& contents);
  ~NexusWriter();
  NexusWriter(const NexusWriter&) = delete;
  NexusWriter& operator=(const NexusWriter&) = delete;

  void add(const Frame& frame, std::optional<double> temperature = {});
  // Records the end time, closes the file and puts it in the target's place.
  void finish();
  int frames() const;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// One frame of a uint16 dataset of (frames, 1536, 2048) or (1536, 2048): the dataset at the
// path `dataset`, or when it is empty the signal of the file's default NXdata.
Frame readNexusFrame(const std::string& path, const std::string& dataset = "", int index = 0);

}  // namespace n47tool

#endif
