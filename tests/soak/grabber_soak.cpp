// A long run on a grabber library chosen at run time, the way n47 drives a real detector: the
// grabber loaded first, then the driver (tools/n47/grabber.h), a live calibration whose maps
// are saved and loaded, then many captures, each with a control message read and the
// corrected frame checked for flatness. Resident memory at the end must not exceed what it was
// after warm-up, which runs past the second calibration: the allocator settles its thresholds
// for frame-sized blocks only once it has seen them freed. Prints its figures; exit status 1 on
// any failure.
//
//   n47_grabber_soak --grabber PATH [--captures N] [--calibrate-every N] [--max-growth-kib N]
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "detector_session.h"
#include "grabber.h"
#include "resident_memory.h"

namespace {

struct Options {
  std::string grabber;
  long captures = 1000;
  long calibrateEvery = 250;
  long maxGrowthKiB = 1024;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i], value = argv[i + 1];
    if (option == "--grabber") o.grabber = value;
    else if (option == "--captures") o.captures = std::strtol(value.c_str(), nullptr, 10);
    else if (option == "--calibrate-every") o.calibrateEvery = std::strtol(value.c_str(), nullptr, 10);
    else if (option == "--max-growth-kib") o.maxGrowthKiB = std::strtol(value.c_str(), nullptr, 10);
    else std::fprintf(stderr, "unknown option %s\n", option.c_str()), std::exit(2);
  }
  if (o.grabber.empty() || argc % 2 == 0) std::fprintf(stderr, "usage: n47_grabber_soak --grabber PATH ...\n"), std::exit(2);
  return o;
}

// Relative standard deviation of the frame clear of its masked border.
double nonUniformity(const n47tool::Frame& frame) {
  double sum = 0, squares = 0, n = 0;
  for (int r = 32; r < n47tool::kHeight - 32; ++r) {
    for (int c = 32; c < n47tool::kWidth - 32; ++c) {
      const double v = frame[static_cast<std::size_t>(r) * n47tool::kWidth + c];
      sum += v, squares += v * v, n += 1;
    }
  }
  const double mean = sum / n;
  return std::sqrt(std::max(0.0, squares / n - mean * mean)) / mean;
}

void calibrate(n47tool::DetectorSession& session, const std::filesystem::path& dir) {
  constexpr int kFlats = 4;
  session.setCalibrationMode(true);
  for (int index = 0; index < kFlats; ++index) session.calibrate(session.acquire(), index, kFlats);
  session.setCalibrationMode(false);
  session.savePixelMap((dir / "pixel.map").string());
  session.saveGainMap((dir / "gain.map").string());
  session.loadPixelMap((dir / "pixel.map").string());
  session.loadGainMap((dir / "gain.map").string());
}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  const auto started = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };
  const std::filesystem::path dir = std::filesystem::temp_directory_path() / ("n47-grabber-soak-" + std::to_string(getpid()));
  std::filesystem::create_directories(dir);
  int failures = 0;
  const auto expect = [&](bool ok, const char* what, long capture) {
    if (!ok && ++failures <= 10) std::fprintf(stderr, "capture %ld: %s\n", capture, what);
  };
  try {
    n47tool::chooseGrabber(o.grabber, "--grabber ");
    n47tool::DetectorSession session;
    std::printf("grabber %s%s, driver %s\n", n47tool::detectorLibraries().grabberPath.c_str(),
                n47tool::detectorLibraries().grabberIsSimulator ? " (the simulator)" : "",
                n47tool::detectorLibraries().driverPath.c_str());
    session.drainControlChannel();
    const int temperature = session.temperature();
    const long warmUp = std::min(o.captures, o.calibrateEvery + 10);
    long residentAfterWarmUp = 0;
    double worst = 0.0;
    for (long capture = 0; capture < o.captures; ++capture) {
      if (o.calibrateEvery > 0 && capture % o.calibrateEvery == 0) calibrate(session, dir);
      expect(session.readTemperature() == temperature, "the temperature changed", capture);
      const double flatness = nonUniformity(session.acquire());
      worst = std::max(worst, flatness);
      expect(flatness < 0.005, "the corrected flat is not flat", capture);
      if (capture + 1 == warmUp) {
        residentAfterWarmUp = residentKiB();
        std::printf("warm-up (%ld captures): %.1f s, resident %ld KiB\n", warmUp, seconds(), residentAfterWarmUp);
      }
    }
    const long residentAtEnd = residentKiB();
    std::printf("%ld captures, a calibration every %ld, %d C throughout: %.1f s, worst non-uniformity %.4f %%\n",
                o.captures, o.calibrateEvery, temperature, seconds(), 100.0 * worst);
    std::printf("resident after warm-up %ld KiB, at the end %ld KiB (growth %ld KiB, allowed %ld)\n",
                residentAfterWarmUp, residentAtEnd, residentAtEnd - residentAfterWarmUp, o.maxGrowthKiB);
    expect(residentAtEnd - residentAfterWarmUp <= o.maxGrowthKiB, "resident memory grew", -1);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "n47_grabber_soak: %s\n", error.what());
    ++failures;
  }
  std::filesystem::remove_all(dir);
  std::printf(failures == 0 ? "grabber soak passed\n" : "grabber soak FAILED: %d failures\n", failures);
  return failures == 0 ? 0 : 1;
}
