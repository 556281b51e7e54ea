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
  bool calibrationMode = false;
  std::optional<double> windowLow, windowHigh;  // PNG output only
};
void runCorrect(const CorrectOptions& options);

void runMapsStats(const std::string& path);
void runMapsRender(const std::string& path, const std::string& output);

void runConvert(const std::string& input, const std::string& output, std::optional<double> low,
                std::optional<double> high);

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
};
void runAcquire(const AcquireOptions& options);

struct ViewOptions {
  int port = 8047;  // fixed, so a tunnel or a bookmark made once keeps working
  std::string pixelMap, gainMap;
  std::string outputFolder = ".";
};
// Serves the live view until SIGINT or SIGTERM; returns the exit status.
int runView(const ViewOptions& options);

// How a frame was corrected, for the descriptions stored with it.
std::string modeText(bool calibrationMode);
std::string mapsText(const std::string& pixelMap, const std::string& gainMap);

// Progress after each finished step ("calibrating 3/8"): redrawn on one line when standard
// error is a terminal (ended by finishProgress()), else one line a step.
void showProgress(const std::string& what, int done, int total);
void finishProgress();

}  // namespace n47tool

#endif
