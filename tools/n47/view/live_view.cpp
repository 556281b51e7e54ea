// n47 view: acquires as fast as the detector gives frames and serves them to a browser. The
// library is driven from this thread alone; the server's threads only read the frame slot and
// leave requests (mode, pause) that the loop takes up between frames.
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <iostream>
#include <mutex>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <vector>

#include "command_inputs.h"
#include "commands.h"
#include "detector_session.h"
#include "grabber.h"
#include "interruption.h"
#include "map_analysis.h"
#include "n47sim/model_control.h"
#include "view/frame_slot.h"
#include "view/snapshot.h"
#include "view/view_server.h"

namespace n47tool {
namespace {

// The rate is taken over this many of the latest frames.
constexpr std::size_t kRateFrames = 16;
// A rate older than this is no rate: the loop is paused or the device stalled.
constexpr std::chrono::seconds kRateLifetime{2};
constexpr std::chrono::milliseconds kIdleWait{50};
constexpr std::chrono::milliseconds kRetryWait{500};

class LiveView final : public LiveControl {
 public:
  LiveView(const ViewOptions& options, const FrameSlot& slot) : options_(options), slot_(slot) {}

  std::string statusJson() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::ostringstream json;
    json.setf(std::ios::fixed);
    json.precision(2);
    json << "{\"frames\":" << frames_ << ",\"fps\":" << ratePerSecond() << ",\"temperature\":" << temperature_
         << ",\"connected\":" << (connected_ ? "true" : "false")
         << ",\"calibration_mode\":" << (calibrationMode_ ? "true" : "false")
         << ",\"paused\":" << (paused_ ? "true" : "false") << ",\"switches\":[";
    for (std::size_t i = 0; i < switches_.size(); ++i) json << (i ? "," : "") << switches_[i];
    json << "],\"switch_frame\":" << switchFrame_ << ",\"pixel_map\":" << (options_.pixelMap.empty() ? "false" : "true")
         << ",\"gain_map\":" << (options_.gainMap.empty() ? "false" : "true") << "}";
    return json.str();
  }
  void requestCalibrationMode(bool on) override { wantCalibrationMode_ = on; }
  void requestPause(bool paused) override {
    std::lock_guard<std::mutex> lock(mutex_);
    paused_ = paused;
  }
  std::vector<std::string> snapshot() override {
    const std::shared_ptr<const LiveFrame> frame = slot_.newest();
    if (!frame) throw std::runtime_error("no frame yet");
    std::lock_guard<std::mutex> lock(snapshotMutex_);  // two clicks must not pick one name
    return saveSnapshot(options_.outputFolder, *frame,
                        "frame " + std::to_string(frame->number) + " of a live view; " +
                            std::to_string(frame->temperature) + " C at capture; corrected: " +
                            mapsText(options_.pixelMap, options_.gainMap) + "; " + modeText(frame->calibrationMode));
  }

  bool paused() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return paused_;
  }
  bool wantedCalibrationMode() const { return wantCalibrationMode_; }
  void setCalibrationMode(bool on) {
    std::lock_guard<std::mutex> lock(mutex_);
    calibrationMode_ = on;
  }
  void lost() {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = false;
  }
  long captured(int temperature, const std::vector<int>& switchCodes) {
    std::lock_guard<std::mutex> lock(mutex_);
    connected_ = true;
    temperature_ = temperature;
    times_.push_back(std::chrono::steady_clock::now());
    if (times_.size() > kRateFrames) times_.pop_front();
    ++frames_;
    if (!switchCodes.empty()) switches_ = switchCodes, switchFrame_ = frames_;
    return frames_;
  }
  long frames() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return frames_;
  }

 private:
  double ratePerSecond() const {
    if (times_.size() < 2 || std::chrono::steady_clock::now() - times_.back() > kRateLifetime) return 0.0;
    const std::chrono::duration<double> span = times_.back() - times_.front();
    return span.count() > 0 ? static_cast<double>(times_.size() - 1) / span.count() : 0.0;
  }

  const ViewOptions& options_;
  const FrameSlot& slot_;
  std::atomic<bool> wantCalibrationMode_{false};
  mutable std::mutex mutex_, snapshotMutex_;
  long frames_ = 0, switchFrame_ = 0;
  int temperature_ = 0;
  bool connected_ = false, calibrationMode_ = false, paused_ = false;
  std::vector<int> switches_;
  std::deque<std::chrono::steady_clock::time_point> times_;
};

void requireFolder(const std::string& folder) {
  struct stat info {};
  if (::stat(folder.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
    throw std::runtime_error(folder + ": not a folder (--out names where snapshots go)");
  }
  if (::access(folder.c_str(), W_OK | X_OK) != 0) throw std::runtime_error(folder + ": snapshots cannot be written there");
}

}  // namespace

int runView(const ViewOptions& options) {
  if (options.port < 0 || options.port > 65535) throw std::runtime_error("--port must lie between 0 and 65535");
  requireFolder(options.outputFolder);
  std::unique_ptr<PixelMap> defects;
  if (!options.pixelMap.empty()) defects = std::make_unique<PixelMap>(readPixelMap(options.pixelMap));
  if (!options.gainMap.empty()) readGainMap(options.gainMap);

  DetectorSession session;
  // On the simulator, a scene worth looking at: the test phantom.
  if (const Simulator* simulator = loadedSimulator()) {
    simulator->startModel(AcquireOptions{}.seed);
    simulator->setScene(N47SIM_SCENE_PHANTOM, AcquireOptions{}.dose);
  }
  if (!options.pixelMap.empty()) session.loadPixelMap(options.pixelMap);
  if (!options.gainMap.empty()) session.loadGainMap(options.gainMap);
  session.setCalibrationMode(false);

  FrameSlot slot;
  LiveView view(options, slot);
  ViewServer server(slot, view, defects.get());
  const int port = server.bind(options.port);
  const StopScope scope;
  server.start();
  std::cout << "n47 view: http://127.0.0.1:" << port << "/  (Ctrl-C stops)" << std::endl;

  bool calibrationMode = false, reportedLoss = false;
  while (!stopRequested()) {
    if (view.paused()) {
      std::this_thread::sleep_for(kIdleWait);
      continue;
    }
    if (view.wantedCalibrationMode() != calibrationMode) {
      calibrationMode = view.wantedCalibrationMode();
      session.setCalibrationMode(calibrationMode);
      view.setCalibrationMode(calibrationMode);
    }
    auto frame = std::make_shared<LiveFrame>();
    std::vector<int> switchCodes;
    try {
      switchCodes = session.readSwitchCodes();  // between frames, as the panel's messages come
      frame->pixels = session.acquire();
    } catch (const std::runtime_error& error) {
      if (!reportedLoss) std::cerr << "n47 view: " << error.what() << "; trying again\n";
      reportedLoss = true;
      view.lost();
      std::this_thread::sleep_for(kRetryWait);
      continue;
    }
    reportedLoss = false;
    frame->captured = std::chrono::system_clock::now();
    frame->calibrationMode = calibrationMode;
    frame->temperature = session.temperature();
    frame->number = view.captured(frame->temperature, switchCodes);
    slot.publish(std::move(frame));
  }
  server.stop();
  std::cout << "n47 view: stopped after " << view.frames() << " frames" << std::endl;
  return stoppedExitStatus(stopSignal());
}

}  // namespace n47tool
