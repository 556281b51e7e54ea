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

// The live commands run on the grabber chosen by --grabber or N47_GRABBER (grabber.h). Those
// that capture a series return the exit status: 0, or 128 + the signal that stopped the series
// after the frame in progress (the frames taken are kept).

// The driver and grabber loaded, whether the device opened, the temperature and switch codes
// on the control channel. 0 when the device opened, else 1.
int runInfo();

struct AcquireOptions {
  std::string output, pixelMap, gainMap;
  std::string scene = "flat";
  unsigned seed = 47;
  double dose = 4000.0;
  int frames = 1;
  bool calibrationMode = false;
  std::vector<std::string> simulatorOptions;  // those given of --scene, --dose, --seed
  std::string compress = "none";              // of an .h5 or .nxs output: gzip or none
};
int runAcquire(const AcquireOptions& options);

struct CalibrateAcquireOptions {
  int frames = 0;
  std::string pixelMap, gainMap, savedFlats;
  unsigned seed = 47;
  double dose = 4000.0;
  std::vector<std::string> simulatorOptions;  // those given of --dose, --seed
  std::string compress = "none";              // of an .h5 or .nxs flats file
};
int runCalibrateAcquired(const CalibrateAcquireOptions& options);

struct ViewOptions {
  int port = 8047;  // fixed, so a tunnel or a bookmark made once keeps working
  std::string pixelMap, gainMap;
  std::string outputFolder = ".";
};
// Serves the live view until SIGINT or SIGTERM; returns the exit status.
int runView(const ViewOptions& options);

// Progress after each finished step ("calibrating 3/8"): redrawn on one line when standard
// error is a terminal (ended by finishProgress()), else one line a step. A rate above 0 is
// shown as frames per second.
void showProgress(const std::string& what, int done, int total, double perSecond = 0.0);
void finishProgress();

}  // namespace n47tool

#endif
