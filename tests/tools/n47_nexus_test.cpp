// NeXus output as the tool writes it: fed frame by frame behind the safe replacement, read
// back by the tool, and refused with a reason where it cannot be done. What the field's readers
// make of the files is tested with those readers, in python/tests/test_nexus.py.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "nexus_writer.h"
#include "support/temp_dir.h"
#include "tool_run.h"

namespace {

using n47tool::Frame;
using n47tooltest::BadInput;

Frame numbered(std::uint16_t start) {
  Frame frame(n47tool::kPixels);
  for (std::size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<std::uint16_t>(start + i);
  return frame;
}

TEST(N47Nexus, FramesAddedBeforeFinishAreReadBackAndAnUnfinishedFileNeverReplacesTheTarget) {
  n47test::TempDir dir;
  const std::string path = dir.file("series.h5");
  for (const bool gzip : {false, true}) {
    n47tool::NexusContents contents;
    contents.gzip = gzip;
    contents.temperatures = true;
    n47tool::NexusWriter writer(path, contents);
    for (std::uint16_t i = 0; i < 3; ++i) writer.add(numbered(i), 20.0 + i);
    writer.finish();
    EXPECT_EQ(writer.frames(), 3);
    for (std::uint16_t i = 0; i < 3; ++i) EXPECT_EQ(n47tool::readNexusFrame(path, "", i), numbered(i));
    EXPECT_EQ(n47tool::readNexusFrame(path, "/entry/instrument/detector/data", 2), numbered(2));
  }
  {
    n47tool::NexusWriter abandoned(path, {});
    abandoned.add(numbered(9));
  }
  EXPECT_EQ(n47tool::readNexusFrame(path, "", 2), numbered(2));
  EXPECT_EQ(dir.names(), std::vector<std::string>{"series.h5"}) << "no temporary was left behind";
}

TEST_F(BadInput, NexusInputsAndOptionsAreRefusedWithTheReason) {
  ASSERT_EQ(n47tooltest::n47("convert " + f("good.raw") + " " + f("one.h5")).status, 0);
  std::ofstream(dir.file("text.h5")) << "not HDF5";
  const std::pair<std::string, std::string> cases[] = {
      {"correct " + f("good.raw") + " " + f("keep.tif") + " --compress gzip", "--compress applies to .h5 and .nxs"},
      {"convert " + f("good.raw") + " " + f("keep.tif") + " --dataset /entry/data/data", "--dataset picks frames"},
      {"convert " + f("text.h5") + " " + f("keep.tif"), "not a readable HDF5 file"},
      {"convert " + f("one.h5") + " " + f("keep.tif") + " --dataset /entry/nothing", "has no dataset /entry/nothing"},
      {"convert " + f("one.h5") + " " + f("keep.tif") + " --frame 1", "holds 1 frame, no frame 1"},
      {"convert " + f("one.h5") + " " + f("keep.tif") + " --dataset /entry/start_time", "not hold 16-bit unsigned"},
      {"maps export " + f("good.raw") + " " + f("keep.tif"), "unsupported file type (use .h5, .nxs)"},
  };
  for (const auto& [arguments, mentions] : cases) expectRefused(arguments, mentions);
  expectRefused("acquire " + f("keep.tif") + " --compress zstd", "--compress", 2);
}

}  // namespace
