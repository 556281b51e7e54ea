// The offline subcommands: calibrate, correct, maps, convert, simulate. Every input is
// checked and every output's folder tested before any work, so bad input leaves existing
// outputs as they were.
#include <filesystem>
#include <iostream>
#include <stdexcept>

#include "commands.h"
#include "detector_session.h"
#include "image_io.h"
#include "map_analysis.h"
#include "n47sim/model_control.h"

namespace n47tool {
namespace {

void requireExtension(const std::string& path, std::initializer_list<const char*> allowed) {
  const std::string extension = extensionOf(path);
  std::string list;
  for (const char* e : allowed) {
    if (extension == e) return;
    list += std::string(list.empty() ? "" : ", ") + e;
  }
  throw std::runtime_error(path + ": unsupported file type (use " + list + ")");
}

void writeFrameByExtension(const std::string& path, const Frame& frame, std::optional<double> low = {},
                           std::optional<double> high = {}) {
  const std::string extension = extensionOf(path);
  if (extension == ".raw") {
    writeRawFrame(path, frame);
  } else if (extension == ".tif" || extension == ".tiff") {
    writeTiff16(path, frame);
  } else {
    Window window = autoWindow(frame);
    if (low) window.low = *low;
    if (high) window.high = *high;
    if (window.high <= window.low) throw std::runtime_error("the window's high end must lie above its low end");
    writePng(path, toGrey(frame, window));
  }
}

// Plays a raw file back through the capture road, so the frame takes the real acquisition.
Frame captureFile(DetectorSession& session, const std::string& path) {
  if (n47sim_play_raw_file(path.c_str()) != 1) throw std::runtime_error(path + ": cannot be played back");
  return session.acquire();
}

}  // namespace

void runCalibrate(const std::vector<std::string>& flats, const std::string& pixelMapOut, const std::string& gainMapOut) {
  if (flats.empty()) throw std::runtime_error("no flat frames given");
  for (const std::string& flat : flats) readRawFrame(flat);  // every input valid before any work
  checkWritable(pixelMapOut);
  checkWritable(gainMapOut);
  DetectorSession session;
  session.setCalibrationMode(true);
  const int count = static_cast<int>(flats.size());
  for (int index = 0; index < count; ++index) {
    showProgress("calibrating", index + 1, count);
    session.calibrate(captureFile(session, flats[static_cast<std::size_t>(index)]), index, count);
  }
  finishProgress();
  session.savePixelMap(pixelMapOut);
  session.saveGainMap(gainMapOut);
  std::cout << "pixel map: " << pixelMapOut << "\ngain map: " << gainMapOut << "\n";
}

void runCorrect(const CorrectOptions& options) {
  readRawFrame(options.input);
  requireExtension(options.output, {".raw", ".tif", ".tiff", ".png"});
  if (!options.pixelMap.empty()) readPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) readGainMap(options.gainMap);
  checkWritable(options.output);
  DetectorSession session;
  if (!options.pixelMap.empty()) session.loadPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) session.loadGainMap(options.gainMap);
  session.setCalibrationMode(options.calibrationMode);
  writeFrameByExtension(options.output, captureFile(session, options.input));
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
  const Frame frame = readRawFrame(input);
  requireExtension(output, {".tif", ".tiff", ".png"});
  if (low && high && *high <= *low) throw std::runtime_error("the window's high end must lie above its low end");
  checkWritable(output);
  writeFrameByExtension(output, frame, low, high);
  std::cout << "converted: " << output << "\n";
}

void runSimulate(const SimulateOptions& options) {
  int scene = -1;
  if (options.scene == "dark") scene = N47SIM_SCENE_DARK;
  if (options.scene == "flat") scene = N47SIM_SCENE_FLAT;
  if (options.scene == "phantom") scene = N47SIM_SCENE_PHANTOM;
  if (scene < 0) throw std::runtime_error("unknown scene '" + options.scene + "' (use dark, flat or phantom)");
  if (options.dose < 0 || options.dose > 16000) throw std::runtime_error("the dose must lie between 0 and 16000");
  requireExtension(options.output, {".raw"});
  checkWritable(options.output);
  if (!options.idealOutput.empty()) {
    requireExtension(options.idealOutput, {".raw"});
    checkWritable(options.idealOutput);
  }
  n47sim_model_params params;
  n47sim_model_default_params(&params, options.seed);
  n47sim_model_start(&params);
  n47sim_model_set_scene(scene, options.dose);
  Frame frame(kPixels);
  n47sim_model_render(frame.data());
  writeRawFrame(options.output, frame);
  if (!options.idealOutput.empty()) {
    n47sim_model_ideal(frame.data());
    writeRawFrame(options.idealOutput, frame);
  }
  std::cout << "simulated " << options.scene << ": " << options.output << "\n";
}

}  // namespace n47tool
