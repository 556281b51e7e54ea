// The offline subcommands: calibrate, correct, maps, convert, simulate, acquire. Every input is
// checked and every output's folder tested before any work, so bad input leaves existing
// outputs as they were.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <stdexcept>

#include "commands.h"
#include "detector_session.h"
#include "image_io.h"
#include "map_analysis.h"
#include "n47sim/model_control.h"
#include "tavrin_n47.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;

constexpr int kMaxSeries = 1000;      // three-digit file indices
constexpr int kMaxTiffPages = 500;    // 6 MiB a page keeps the file below the 4 GiB of a classic TIFF
constexpr double kMaxPixelValue = 65535.0;

void requireExtension(const std::string& path, std::initializer_list<const char*> allowed) {
  const std::string extension = extensionOf(path);
  std::string list;
  for (const char* e : allowed) {
    if (extension == e) return;
    list += std::string(list.empty() ? "" : ", ") + e;
  }
  throw std::runtime_error(path + ": unsupported file type (use " + list + ")");
}

// NaN passes every "<" and ">" test and converts to garbage, so each number is checked whole.
void requireInRange(const char* option, double value, double low, double high) {
  if (!(std::isfinite(value) && value >= low && value <= high)) {
    std::ostringstream message;
    message << option << " must be a finite number from " << low << " to " << high << " (got " << value << ")";
    throw std::runtime_error(message.str());
  }
}

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

fs::path resolved(const std::string& path) {
  std::error_code error;
  const fs::path full = fs::weakly_canonical(fs::absolute(path), error);
  return error ? fs::absolute(path).lexically_normal() : full;
}

// An output that is also an input would be overwritten while (or before) it is read, and two
// outputs on one file leave only the last; both are refused before anything is read.
void refuseSameFiles(const std::vector<std::string>& inputs, const std::vector<std::string>& outputs) {
  for (std::size_t i = 0; i < outputs.size(); ++i) {
    const fs::path out = resolved(outputs[i]);
    for (const std::string& input : inputs) {
      if (out == resolved(input)) throw std::runtime_error(outputs[i] + ": is also an input; choose another output");
    }
    for (std::size_t j = 0; j < i; ++j) {
      if (out == resolved(outputs[j])) {
        throw std::runtime_error(outputs[j] + " and " + outputs[i] + " are the same file; each output needs its own");
      }
    }
  }
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
  n47sim_set_frame(frame.data(), frame.size());
  return session.acquire();
}

int sceneNumber(const std::string& scene) {
  if (scene == "dark") return N47SIM_SCENE_DARK;
  if (scene == "flat") return N47SIM_SCENE_FLAT;
  if (scene == "phantom") return N47SIM_SCENE_PHANTOM;
  throw std::runtime_error("unknown scene '" + scene + "' (use dark, flat or phantom)");
}

// flat.raw -> flat_007.raw
std::string seriesName(const std::string& path, int index) {
  fs::path name(path);
  char suffix[16];
  std::snprintf(suffix, sizeof suffix, "_%03d", index);
  return (name.parent_path() / (name.stem().string() + suffix + name.extension().string())).string();
}

}  // namespace

std::string modeText(bool calibrationMode) {
  return calibrationMode ? "calibration mode (no gain, no border mask)"
                         : "normal mode (impulse filter, defect repair, gain, border mask)";
}

std::string mapsText(const std::string& pixelMap, const std::string& gainMap) {
  return "pixel map " + (pixelMap.empty() ? std::string("none") : pixelMap) + ", gain map " +
         (gainMap.empty() ? std::string("none") : gainMap);
}

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
  n47sim_model_params params;
  n47sim_model_default_params(&params, options.seed);
  n47sim_model_start(&params);
  n47sim_model_set_scene(scene, options.dose);
  Frame frame(kPixels);
  const int frames = options.frames.value_or(1);
  for (int i = 0; i < frames; ++i) {
    n47sim_model_render(frame.data());  // fresh noise on the same panel each time
    writeRawFrame(outputs[static_cast<std::size_t>(i)], frame);
    if (options.frames) showProgress("simulating", i + 1, frames);
  }
  if (options.frames) finishProgress();
  std::cout << "simulated " << options.scene << ": " << outputs.front();
  if (frames > 1) std::cout << " .. " << outputs[static_cast<std::size_t>(frames - 1)] << " (" << frames << " frames)";
  std::cout << "\n";
  if (!options.idealOutput.empty()) {
    n47sim_model_ideal(frame.data());
    writeRawFrame(options.idealOutput, frame);
    std::cout << "ideal image: " << options.idealOutput << "\n";
  }
}

void runAcquire(const AcquireOptions& options) {
  const int scene = sceneNumber(options.scene);
  requireInRange("--dose", options.dose, 0.0, 16000.0);
  if (options.frames < 1 || options.frames > kMaxTiffPages) {
    throw std::runtime_error("--frames must lie between 1 and " + std::to_string(kMaxTiffPages) +
                             " (one TIFF file holds at most 4 GiB)");
  }
  requireExtension(options.output, {".tif", ".tiff"});
  std::vector<std::string> inputs;
  if (!options.pixelMap.empty()) inputs.push_back(options.pixelMap);
  if (!options.gainMap.empty()) inputs.push_back(options.gainMap);
  refuseSameFiles(inputs, {options.output});
  if (!options.pixelMap.empty()) readPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) readGainMap(options.gainMap);
  checkWritable(options.output);

  DetectorSession session;
  n47sim_model_params params;
  n47sim_model_default_params(&params, options.seed);
  n47sim_model_start(&params);
  n47sim_model_set_scene(scene, options.dose);
  if (!options.pixelMap.empty()) session.loadPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) session.loadGainMap(options.gainMap);
  session.setCalibrationMode(options.calibrationMode);
  std::ostringstream what;
  what << options.scene << " scene, dose " << options.dose << ", seed " << options.seed << "; corrected: "
       << mapsText(options.pixelMap, options.gainMap) << "; " << modeText(options.calibrationMode);
  writeTiffPages(options.output, options.frames, [&](int index, Frame& frame, std::string& description) {
    const int temperature = session.readTemperature();
    frame = session.acquire();
    description = "frame " + std::to_string(index + 1) + " of " + std::to_string(options.frames) + "; " +
                  std::to_string(temperature) + " C at capture; " + what.str();
    showProgress("acquiring", index + 1, options.frames);
  });
  finishProgress();
  std::cout << "acquired " << options.frames << (options.frames == 1 ? " frame: " : " frames: ") << options.output
            << "\n";
}

}  // namespace n47tool
