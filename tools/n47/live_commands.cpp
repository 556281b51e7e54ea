// The live commands: info, acquire and calibrate --acquire, on the grabber chosen at run time
// (grabber.h). A series runs at the device's pace with its rate shown; SIGINT or SIGTERM stops
// it after the frame in progress, and what was taken is kept whole.
#include <chrono>
#include <filesystem>
#include <iomanip>
#include <iostream>
#include <map>
#include <sstream>
#include <stdexcept>

#include "command_inputs.h"
#include "commands.h"
#include "detector_session.h"
#include "grabber.h"
#include "image_io.h"
#include "interruption.h"
#include "map_analysis.h"
#include "n47sim/model_control.h"

namespace n47tool {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kMaxAcquiredFrames = 65535;     // TIFF page numbers are 16-bit
constexpr int kMaxCalibrationFrames = 65537;  // the library's flat sum holds this many
constexpr int kListenedMessages = 20;

// The simulator that shapes the frames, or null for another grabber; an option that needs the
// simulator is refused with any other grabber.
const Simulator* simulatorFor(const std::vector<std::string>& simulatorOptions) {
  const Simulator* simulator = loadedSimulator();
  if (simulator == nullptr && !simulatorOptions.empty()) requireSimulator(simulatorOptions.front());
  return simulator;
}

std::string gigabytes(std::uintmax_t bytes) {
  std::ostringstream text;
  text << std::fixed << std::setprecision(1) << bytes / 1e9 << " GB";
  return text.str();
}

// A series that cannot fit is refused before its first frame, not found out after hours.
void requireSpaceFor(const std::string& path, int frames) {
  std::error_code error;
  const fs::path folder = fs::absolute(path).parent_path();
  const fs::space_info space = fs::space(folder, error);
  if (error) return;  // nothing known; the write itself reports a full disk
  const std::uint64_t needed = tiffPagesBytes(frames);
  if (needed > space.available) {
    throw std::runtime_error(path + ": " + std::to_string(frames) + " frames need " + gigabytes(needed) +
                             " and the folder has " + gigabytes(space.available) + " free");
  }
}

// A series' pace and its stop: the first frame is always taken, each later one only while no
// stop was asked for.
class Series {
 public:
  Series(std::string what, int total) : what_(std::move(what)), total_(total) {}
  bool more(int index) const { return index == 0 || !stopRequested(); }
  void took(int index) {
    taken_ = index + 1;
    const double seconds = std::chrono::duration<double>(Clock::now() - start_).count();
    showProgress(what_, taken_, total_, seconds > 0.0 ? taken_ / seconds : 0.0);
  }
  int taken() const { return taken_; }
  // 0 when the series ran to its end, else the status of the signal that stopped it.
  int finish(const std::string& outcome) const {
    finishProgress();
    if (taken_ == total_) return 0;
    std::cerr << "n47: stopped after " << taken_ << " of " << total_ << " frames" << outcome << "\n";
    return stoppedExitStatus(stopSignal());
  }

 private:
  StopScope stopScope_;
  std::string what_;
  int total_;
  int taken_ = 0;
  Clock::time_point start_ = Clock::now();
};

std::string grabberText() {
  const DetectorLibraries& libraries = detectorLibraries();
  return "grabber " + fs::path(libraries.grabberPath).filename().string() +
         (libraries.grabberIsSimulator ? " (simulator)" : "");
}

}  // namespace

int runInfo() {
  const DetectorLibraries& libraries = detectorLibraries();
  std::cout << "driver:      " << N47_VERSION_STRING << ", " << libraries.driverPath << "\n"
            << "grabber:     " << libraries.grabberPath
            << (libraries.grabberIsSimulator ? " (the simulator)" : " (not the simulator)") << "\n";
  DetectorSession session(DetectorSession::Device::MayStayClosed);
  // The simulated detector answers on the control channel once its panel runs.
  if (const Simulator* simulator = loadedSimulator()) simulator->startModel(AcquireOptions{}.seed);
  const bool opened = session.deviceOpened();
  std::cout << "device:      " << (opened ? "opened" : "did not open") << "\n" << std::flush;
  session.drainControlChannel();
  std::cout << "temperature: " << session.temperature() << " C (control channel drained)\n";
  std::map<int, int> seen;
  for (int message = 0; message < kListenedMessages; ++message) {
    for (int code : session.readSwitchCodes()) ++seen[code];
  }
  std::cout << "switch codes:";
  if (seen.empty()) std::cout << " none";
  for (const auto& [code, times] : seen) std::cout << " " << code << " (" << times << "x)";
  std::cout << " in the next " << kListenedMessages << " messages\n";
  return opened ? 0 : 1;
}

int runAcquire(const AcquireOptions& options) {
  const int scene = sceneNumber(options.scene);
  requireInRange("--dose", options.dose, 0.0, 16000.0);
  if (options.frames < 1 || options.frames > kMaxAcquiredFrames) {
    throw std::runtime_error("--frames must lie between 1 and " + std::to_string(kMaxAcquiredFrames) +
                             " (a TIFF numbers its pages in 16 bits)");
  }
  requireExtension(options.output, {".tif", ".tiff"});
  std::vector<std::string> inputs;
  if (!options.pixelMap.empty()) inputs.push_back(options.pixelMap);
  if (!options.gainMap.empty()) inputs.push_back(options.gainMap);
  refuseSameFiles(inputs, {options.output});
  if (!options.pixelMap.empty()) readPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) readGainMap(options.gainMap);
  checkWritable(options.output);
  requireSpaceFor(options.output, options.frames);
  const Simulator* simulator = simulatorFor(options.simulatorOptions);

  DetectorSession session;
  std::ostringstream what;
  if (simulator != nullptr) {
    simulator->startModel(options.seed);
    simulator->setScene(scene, options.dose);
    what << options.scene << " scene, dose " << options.dose << ", seed " << options.seed;
  } else {
    what << grabberText();
  }
  if (!options.pixelMap.empty()) session.loadPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) session.loadGainMap(options.gainMap);
  session.setCalibrationMode(options.calibrationMode);
  what << "; corrected: " << mapsText(options.pixelMap, options.gainMap) << "; " << modeText(options.calibrationMode);
  Series series("acquiring", options.frames);
  writeTiffPages(options.output, options.frames, [&](int index, Frame& frame, std::string& description) {
    if (!series.more(index)) return false;
    const int temperature = session.readTemperature();
    frame = session.acquire();
    description = "frame " + std::to_string(index + 1) + " of " + std::to_string(options.frames) + "; " +
                  std::to_string(temperature) + " C at capture; " + what.str();
    series.took(index);
    return true;
  });
  const int status = series.finish(": " + options.output + " holds the frames taken");
  if (status == 0) {
    std::cout << "acquired " << options.frames << (options.frames == 1 ? " frame: " : " frames: ") << options.output
              << "\n";
  }
  return status;
}

int runCalibrateAcquired(const CalibrateAcquireOptions& options) {
  if (options.frames < 1 || options.frames > kMaxCalibrationFrames) {
    throw std::runtime_error("--acquire must lie between 1 and " + std::to_string(kMaxCalibrationFrames) +
                             " flats (got " + std::to_string(options.frames) + ")");
  }
  requireInRange("--dose", options.dose, 0.0, 16000.0);
  std::vector<std::string> outputs{options.pixelMap, options.gainMap};
  if (!options.savedFlats.empty()) {
    requireExtension(options.savedFlats, {".tif", ".tiff"});
    outputs.push_back(options.savedFlats);
  }
  refuseSameFiles({}, outputs);
  for (const std::string& output : outputs) checkWritable(output);
  if (!options.savedFlats.empty()) requireSpaceFor(options.savedFlats, options.frames);
  const Simulator* simulator = simulatorFor(options.simulatorOptions);

  DetectorSession session;
  std::string what = grabberText();
  if (simulator != nullptr) {
    simulator->startModel(options.seed);
    simulator->setScene(N47SIM_SCENE_FLAT, options.dose);
    std::ostringstream text;
    text << "flat scene, dose " << options.dose << ", seed " << options.seed;
    what = text.str();
  }
  session.setCalibrationMode(true);
  const int count = options.frames;
  Series series("calibrating", count);
  // Each flat goes to the calibration step as captured, and to the flats file when asked for.
  const auto takeFlat = [&](int index, Frame& frame) {
    frame = session.acquire();
    session.calibrate(frame, index, count);
    series.took(index);
  };
  if (options.savedFlats.empty()) {
    Frame frame;
    for (int index = 0; index < count && series.more(index); ++index) takeFlat(index, frame);
  } else {
    writeTiffPages(options.savedFlats, count, [&](int index, Frame& frame, std::string& description) {
      if (!series.more(index)) return false;
      takeFlat(index, frame);
      description = "flat " + std::to_string(index + 1) + " of " + std::to_string(count) + " as captured; " + what +
                    "; " + modeText(true);
      return true;
    });
  }
  session.setCalibrationMode(false);
  const int status = series.finish("; the map files were left as they were");
  if (status != 0) return status;
  session.savePixelMap(options.pixelMap);
  session.saveGainMap(options.gainMap);
  std::cout << "pixel map: " << options.pixelMap << "\ngain map: " << options.gainMap << "\n";
  if (!options.savedFlats.empty()) std::cout << "flats: " << options.savedFlats << "\n";
  return 0;
}

}  // namespace n47tool
