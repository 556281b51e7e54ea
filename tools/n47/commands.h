// The subcommands of the n47 tool. Each throws std::runtime_error with a message for the user.
#ifndef N47_TOOLS_COMMANDS_H
#define N47_TOOLS_COMMANDS_H

#include <optional>
#include <string>
#include <vector>

namespace n47tool {

struct DemoOptions {
  std::string outputFolder = "out/demo";
  unsigned seed = 47;
  int flats = 8;
};
void runDemo(const DemoOptions& options);

void runCalibrate(const std::vector<std::string>& flats, const std::string& pixelMapOut, const std::string& gainMapOut);

struct CorrectOptions {
  std::string input, output, pixelMap, gainMap;
  std::string compress = "none";  // .h5 and .nxs outputs: gzip or none
  bool calibrationMode = false;
  std::optional<double> windowLow, windowHigh;  // PNG output only
};
void runCorrect(const CorrectOptions& options);

void runMapsStats(const std::string& path);
void runMapsRender(const std::string& path, const std::string& output);
// A pixel map as a NeXus pixel_mask, or a gain map as a flatfield, alone in an .h5 file.
void runMapsExport(const std::string& path, const std::string& output, const std::string& compress);

struct ConvertOptions {
  std::string input, output;
  std::string dataset;  // of an .h5 or .nxs input; empty: the default NXdata's signal
  int frame = 0;        // of that dataset
  std::string compress = "none";
  std::optional<double> windowLow, windowHigh;  // PNG output only
};
void runConvert(const ConvertOptions& options);

struct SimulateOptions {
  std::string scene, output, idealOutput;
  unsigned seed = 47;
  double dose = 4000.0;
  std::optional<int> frames;  // a series: OUT_000.raw, OUT_001.raw, ...
};
void runSimulate(const SimulateOptions& options);

struct AcquireOptions {
  std::string output, pixelMap, gainMap;
  std::string scene = "flat";
  unsigned seed = 47;
  double dose = 4000.0;
  int frames = 1;
  bool calibrationMode = false;
  std::string compress = "none";
};
// Into an .h5 or .nxs file, Ctrl-C stops after the frame in progress and the file keeps the
// frames taken; the program then ends with stoppedExitStatus().
void runAcquire(const AcquireOptions& options);

// Progress after each finished step ("calibrating 3/8"): redrawn on one line when standard
// error is a terminal (ended by finishProgress()), else one line a step.
void showProgress(const std::string& what, int done, int total);
void finishProgress();

}  // namespace n47tool

#endif
