// A long run against the simulated detector, outside the default suite: many allocate/free
// cycles, then many acquisitions with corrections, with map reloads and calibration series
// in between. Every corrected frame and every saved map must equal what a first run produced
// from the same input, and resident memory at the end must not exceed what it was after
// warm-up. Prints its figures; exit status 1 on any difference.
//
//   n47_soak [--cycles N] [--acquisitions N] [--reload-every N] [--calibrate-every N]
//            [--max-growth-kib N] [--real-sleep]
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "n47sim/model_control.h"
#include "n47sim/sim_control.h"
#include "common/test_seams.h"
#include "resident_memory.h"
#include "tavrin_n47.h"

namespace {

constexpr std::size_t kPixels = static_cast<std::size_t>(N47_FRAME_WIDTH) * N47_FRAME_HEIGHT;
constexpr int kInputFrames = 4;
constexpr int kCalibrationFlats = 3;

struct Options {
  long cycles = 1000;
  long acquisitions = 10000;
  long reloadEvery = 500;
  long calibrateEvery = 2500;
  long maxGrowthKiB = 1024;
  bool realSleep = false;
};

Options parse(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const auto number = [&]() -> long {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s needs a number\n", arg.c_str());
        std::exit(2);
      }
      return std::strtol(argv[++i], nullptr, 10);
    };
    if (arg == "--cycles") o.cycles = number();
    else if (arg == "--acquisitions") o.acquisitions = number();
    else if (arg == "--reload-every") o.reloadEvery = number();
    else if (arg == "--calibrate-every") o.calibrateEvery = number();
    else if (arg == "--max-growth-kib") o.maxGrowthKiB = number();
    else if (arg == "--real-sleep") o.realSleep = true;
    else {
      std::fprintf(stderr, "unknown option %s\n", arg.c_str());
      std::exit(2);
    }
  }
  return o;
}

std::uint64_t hashBytes(const void* data, std::size_t bytes) {
  std::uint64_t h = 1469598103934665603ull;  // FNV-1a
  const auto* p = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < bytes; ++i) h = (h ^ p[i]) * 1099511628211ull;
  return h;
}

std::uint64_t hashFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return hashBytes(bytes.data(), bytes.size()) ^ bytes.size();
}

int failures = 0;

void expect(bool ok, const char* what, long at) {
  if (ok) return;
  if (++failures <= 20) std::fprintf(stderr, "FAILED at %ld: %s\n", at, what);
}

// Frames rendered once by the simulated detector, delivered again and again.
struct Inputs {
  std::vector<std::vector<std::uint16_t>> frames;
  std::vector<std::vector<std::uint16_t>> flats;
};

Inputs renderInputs() {
  n47sim_reset();
  n47sim_model_params params;
  n47sim_model_default_params(&params, 47);
  n47sim_model_start(&params);
  Inputs in;
  const int scenes[kInputFrames] = {N47SIM_SCENE_FLAT, N47SIM_SCENE_PHANTOM, N47SIM_SCENE_DARK, N47SIM_SCENE_PHANTOM};
  const double doses[kInputFrames] = {3000.0, 6000.0, 0.0, 2000.0};
  for (int i = 0; i < kInputFrames; ++i) {
    n47sim_model_set_scene(scenes[i], doses[i]);
    in.frames.emplace_back(kPixels);
    n47sim_model_render(in.frames.back().data());
  }
  n47sim_model_set_scene(N47SIM_SCENE_FLAT, 5000.0);
  for (int i = 0; i < kCalibrationFlats; ++i) {
    in.flats.emplace_back(kPixels);
    n47sim_model_render(in.flats.back().data());
  }
  n47sim_reset();
  n47sim_set_logging(0);
  return in;
}

struct Files {
  std::filesystem::path dir;
  std::string pixelMap(int generation) const { return (dir / ("pixel" + std::to_string(generation) + ".map")).string(); }
  std::string gainMap(int generation) const { return (dir / ("gain" + std::to_string(generation) + ".map")).string(); }
};

// A calibration series in calibration mode over the flats, saved as maps of `generation`.
bool calibrate(const Inputs& in, const Files& files, int generation) {
  bool ok = CalibrationMode(1) == 1;
  for (int i = 0; i < kCalibrationFlats; ++i) {
    std::vector<std::uint16_t> flat = in.flats[i];  // the series rewrites the frame it is given
    ok = Map_Calibration(flat.data(), i, kCalibrationFlats) == 1 && ok;
  }
  ok = SavePixelMap(files.pixelMap(generation).c_str()) == 1 && ok;
  ok = SaveGainMap(files.gainMap(generation).c_str()) == 1 && ok;
  ok = CalibrationMode(0) == 0 && ok;
  return ok;
}

bool loadMaps(const Files& files, int generation) {
  return LoadPixelMap(files.pixelMap(generation).c_str()) == 1 && LoadGainMap(files.gainMap(generation).c_str()) == 1;
}

// One capture of `frame` through the exports; the hash of the corrected image, 0 on failure.
std::uint64_t acquire(const std::vector<std::uint16_t>& frame) {
  n47sim_set_frame(frame.data(), frame.size());
  if (RunforDetector(1) != 1 || Ready_Time_Chk() != 1 || RunforDetector(2) != 1) return 0;
  return hashBytes(GetImagePtr(), kPixels * sizeof(std::uint16_t));
}

void noSleep() {}

}  // namespace

int main(int argc, char** argv) {
  const Options o = parse(argc, argv);
  if (!o.realSleep) n47::exchangeSleepFunction(noSleep);
  const auto started = std::chrono::steady_clock::now();
  const auto seconds = [&] { return std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count(); };

  Files files{std::filesystem::temp_directory_path() / ("n47-soak-" + std::to_string(getpid()))};
  std::filesystem::create_directories(files.dir);
  const Inputs in = renderInputs();

  // The first run: one calibration, its maps loaded, each input corrected once.
  if (Sys_Allocation_N47() != 1) return 1;
  expect(calibrate(in, files, 0), "first calibration", 0);
  const std::uint64_t pixelMapHash = hashFile(files.pixelMap(0));
  const std::uint64_t gainMapHash = hashFile(files.gainMap(0));
  expect(loadMaps(files, 0), "first map load", 0);
  std::uint64_t expected[kInputFrames];
  for (int i = 0; i < kInputFrames; ++i) {
    expected[i] = acquire(in.frames[i]);
    expect(expected[i] != 0, "first acquisition", i);
  }
  expect(Sys_Free() == 1, "first free", 0);
  std::printf("first run done: %.1f s, resident %ld KiB\n", seconds(), residentKiB());

  // Allocate/free cycles; every 100th also checks that a fresh object corrects as before.
  for (long cycle = 0; cycle < o.cycles; ++cycle) {
    expect(Sys_Allocation_N47() == 1, "allocation", cycle);
    expect(CheckInterface() == 1, "interface", cycle);
    if (cycle % 100 == 99) {
      expect(loadMaps(files, 0), "load in cycle", cycle);
      expect(acquire(in.frames[cycle % kInputFrames]) == expected[cycle % kInputFrames], "cycle result", cycle);
    }
    expect(Sys_Free() == 1, "free", cycle);
  }
  std::printf("%ld allocate/free cycles done: %.1f s, resident %ld KiB\n", o.cycles, seconds(), residentKiB());

  // Acquisitions with reloads and calibration series in between.
  expect(Sys_Allocation_N47() == 1, "allocation", -1);
  expect(loadMaps(files, 0), "load", -1);
  const long warmUp = o.acquisitions >= 10 ? o.acquisitions / 10 : 1;
  long residentAfterWarmUp = 0;
  int generation = 0;
  for (long a = 0; a < o.acquisitions; ++a) {
    if (a > 0 && o.calibrateEvery > 0 && a % o.calibrateEvery == 0) {
      ++generation;
      expect(calibrate(in, files, generation), "calibration", a);
      expect(hashFile(files.pixelMap(generation)) == pixelMapHash, "pixel map equals the first run's", a);
      expect(hashFile(files.gainMap(generation)) == gainMapHash, "gain map equals the first run's", a);
      // Index 0 of a series clears the active pixel map: load the maps again.
      expect(loadMaps(files, generation), "load after calibration", a);
    } else if (a > 0 && o.reloadEvery > 0 && a % o.reloadEvery == 0) {
      expect(loadMaps(files, generation), "reload", a);
    }
    if (a % 100 == 0) {
      const std::uint8_t message[64] = {'v', 'f', 30, 'g'};
      n47sim_push_message(message, sizeof message);
      const bool decoded = CheckSwitch() == 1 && GetSwitchMsg(0) == 1 && GetSwitchMsg(1) == 0;
      expect(decoded && GetTemperature() == 25, "control message", a);
    }
    const int input = static_cast<int>(a % kInputFrames);
    expect(acquire(in.frames[input]) == expected[input], "corrected frame equals the first run's", a);
    if (a + 1 == warmUp) {
      residentAfterWarmUp = residentKiB();
      std::printf("warm-up (%ld acquisitions) done: %.1f s, resident %ld KiB\n", warmUp, seconds(), residentAfterWarmUp);
    }
    if ((a + 1) % 1000 == 0) std::printf("  %ld acquisitions: %.1f s\n", a + 1, seconds()), std::fflush(stdout);
  }
  const long residentAtEnd = residentKiB();
  expect(Sys_Free() == 1, "final free", -1);
  std::filesystem::remove_all(files.dir);

  std::printf("%ld acquisitions, %d calibrations, map reloads every %ld: %.1f s\n", o.acquisitions, generation,
              o.reloadEvery, seconds());
  std::printf("resident after warm-up %ld KiB, at the end %ld KiB (growth %ld KiB, allowed %ld)\n",
              residentAfterWarmUp, residentAtEnd, residentAtEnd - residentAfterWarmUp, o.maxGrowthKiB);
  expect(residentAtEnd - residentAfterWarmUp <= o.maxGrowthKiB, "resident memory grew", -1);
  std::fflush(stderr);
  std::printf(failures == 0 ? "soak passed\n" : "soak FAILED: %d differences\n", failures);
  return failures == 0 ? 0 : 1;
}
