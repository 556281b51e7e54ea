// The offline subcommands: calibrate from files, correct, maps, convert, simulate. They replay
// or synthesise frames, so they always run on the simulator shipped with n47. Every input is
// checked and every output's folder tested before any work, so bad input leaves existing
// outputs as they were.
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "command_inputs.h"
#include "commands.h"
#include "detector_session.h"
#include "grabber.h"
#include "image_io.h"
#include "map_analysis.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxSeries = 1000;      // three-digit file indices
constexpr double kMaxPixelValue = 65535.0;

void requireWindow(const std::string& output, std::optional<double> low, std::optional<double> high) {
  if (!low && !high) return;
  if (extensionOf(output) != ".png") {
    throw std::runtime_error(output + ": --window-low and --window-high shape only a .png picture; a " +
                             extensionOf(output) + " file keeps every value as it is");
  }
  if (low) requireInRange("--window-low", *low, 0.0, kMaxPixelValue);
  if (high) requireInRange("--window-high", *high, 0.0, kMaxPixelValue);
  if (low && high && *high <= *low) throw std::runtime_error("the window's high end must lie above its low end");
}

void writeFrameByExtension(const std::string& path, const Frame& frame, const std::string& description,
                           std::optional<double> low = {}, std::optional<double> high = {}) {
  const std::string extension = extensionOf(path);
  if (extension == ".raw") {
    writeRawFrame(path, frame);
  } else if (isTiffPath(path)) {
    writeTiff16(path, frame, description);
  } else {
    Window window = autoWindow(frame);
    if (low) window.low = *low;
    if (high) window.high = *high;
    if (window.high <= window.low) throw std::runtime_error("the window's high end must lie above its low end");
    writePng(path, toGrey(frame, window));
  }
}

// Hands the frame to the grabber, so it takes the real capture road through the library.
Frame captureFrame(DetectorSession& session, const Frame& frame) {
  requireSimulator("replaying a frame").setFrame(frame);
  return session.acquire();
}

// flat.raw -> flat_007.raw
std::string seriesName(const std::string& path, int index) {
  fs::path name(path);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03d", index);
  return (name.parent_path() / (name.stem().string() + suffix + name.extension().string())).string();
}

}  // namespace

void runCalibrate(const std::vector<std::string>& flats, const std::string& pixelMapOut, const std::string& gainMapOut) {
  if (flats.empty()) throw std::runtime_error("no flat frames given");
  refuseSameFiles(flats, {pixelMapOut, gainMapOut});
  for (const std::string& flat : flats) readFrame(flat);  // every input valid before any work
  checkWritable(pixelMapOut);
  checkWritable(gainMapOut);
  DetectorSession session;
  session.setCalibrationMode(true);
  const int count = static_cast<int>(flats.size());
  for (int index = 0; index < count; ++index) {
    session.calibrate(captureFrame(session, readFrame(flats[static_cast<std::size_t>(index)])), index, count);
    showProgress("calibrating", index + 1, count);
  }
  finishProgress();
  session.savePixelMap(pixelMapOut);
  session.saveGainMap(gainMapOut);
  std::cout << "pixel map: " << pixelMapOut << "\ngain map: " << gainMapOut << "\n";
}

void runCorrect(const CorrectOptions& options) {
  std::vector<std::string> inputs{options.input};
  if (!options.pixelMap.empty()) inputs.push_back(options.pixelMap);
  if (!options.gainMap.empty()) inputs.push_back(options.gainMap);
  refuseSameFiles(inputs, {options.output});
  const Frame input = readFrame(options.input);
  requireExtension(options.output, {".raw", ".tif", ".tiff", ".png"});
  requireWindow(options.output, options.windowLow, options.windowHigh);
  if (!options.pixelMap.empty()) readPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) readGainMap(options.gainMap);
  checkWritable(options.output);
  DetectorSession session;
  if (!options.pixelMap.empty()) session.loadPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) session.loadGainMap(options.gainMap);
  session.setCalibrationMode(options.calibrationMode);
  const std::string description = "corrected frame from " + fs::path(options.input).filename().string() + "; " +
                                  mapsText(options.pixelMap, options.gainMap) + "; " + modeText(options.calibrationMode);
  writeFrameByExtension(options.output, captureFrame(session, input), description, options.windowLow,
                        options.windowHigh);
  std::cout << "corrected: " << options.output << "\n";
}

void runMapsStats(const std::string& path) {
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  if (!error && size == kGainMapBytes) {
    std::cout << describe(gainStats(readGainMap(path)));
  } else {
    std::cout << describe(pixelMapStats(readPixelMap(path)));
  }
}

void runMapsRender(const std::string& path, const std::string& output) {
  refuseSameFiles({path}, {output});
  requireExtension(output, {".png"});
  std::error_code error;
  const auto size = std::filesystem::file_size(path, error);
  const bool gain = !error && size == kGainMapBytes;
  const Picture picture = gain ? renderGainMap(readGainMap(path)) : renderPixelMap(readPixelMap(path));
  checkWritable(output);
  writePng(output, picture);
  std::cout << "rendered: " << output << "\n";
}

void runConvert(const std::string& input, const std::string& output, std::optional<double> low,
                std::optional<double> high) {
  refuseSameFiles({input}, {output});
  std::string description;
  const Frame frame = readFrame(input, &description);
  requireExtension(output, {".tif", ".tiff", ".png"});
  requireWindow(output, low, high);
  checkWritable(output);
  if (description.empty()) description = "frame as stored in the raw file " + fs::path(input).filename().string();
  writeFrameByExtension(output, frame, description, low, high);
  std::cout << "converted: " << output << "\n";
}

void runSimulate(const SimulateOptions& options) {
  const int scene = sceneNumber(options.scene);
  requireInRange("--dose", options.dose, 0.0, 16000.0);
  if (options.frames && (*options.frames < 1 || *options.frames > kMaxSeries)) {
    throw std::runtime_error("--frames must lie between 1 and " + std::to_string(kMaxSeries));
  }
  requireExtension(options.output, {".raw"});
  std::vector<std::string> outputs;
  if (options.frames) {
    for (int i = 0; i < *options.frames; ++i) outputs.push_back(seriesName(options.output, i));
  } else {
    outputs.push_back(options.output);
  }
  if (!options.idealOutput.empty()) {
    requireExtension(options.idealOutput, {".raw"});
    outputs.push_back(options.idealOutput);
  }
  refuseSameFiles({}, outputs);
  for (const std::string& output : outputs) checkWritable(output);
  const Simulator& simulator = requireSimulator("simulate");
  simulator.startModel(options.seed);
  simulator.setScene(scene, options.dose);
  const int frames = options.frames.value_or(1);
  for (int i = 0; i < frames; ++i) {
    // Fresh noise on the same panel each time.
    writeRawFrame(outputs[static_cast<std::size_t>(i)], simulator.render());
    if (options.frames) showProgress("simulating", i + 1, frames);
  }
  if (options.frames) finishProgress();
  std::cout << "simulated " << options.scene << ": " << outputs.front();
  if (frames > 1) std::cout << " .. " << outputs[static_cast<std::size_t>(frames - 1)] << " (" << frames << " frames)";
  std::cout << "\n";
  if (!options.idealOutput.empty()) {
    writeRawFrame(options.idealOutput, simulator.ideal());
    std::cout << "ideal image: " << options.idealOutput << "\n";
  }
}

}  // namespace n47tool
