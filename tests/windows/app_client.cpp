// An installed application's use of the driver: the driver and USB_FRM01 sit together in a
// folder of their own, away from the program; the program loads the driver from there,
// resolves every export by ordinal alone (on Windows; by name elsewhere), runs a calibration
// series, loads the maps it saved, captures a frame and frees the detector and the library.
// It knows nothing of the simulator behind USB_FRM01.
//
// Prints FNV-1a hashes of the saved maps and the captured frame (runs on every platform print
// the same lines) and "N checks, M failed" on stderr; exits 1 on any failure.
//   n47_app_client DRIVER_PATH [FOLDER]   (FOLDER: where the maps go, default the working folder)
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "host_support.h"
#include "tavrin_n47.h"

namespace {

using namespace n47host;

std::uint64_t fnv1a(const void* data, std::size_t size) {
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ static_cast<const std::uint8_t*>(data)[i]) * 0x100000001B3ull;
  return hash;
}

std::uint64_t fileHash(const char* path, long expectedSize) {
  std::vector<unsigned char> bytes;
  if (std::FILE* file = std::fopen(path, "rb")) {
    unsigned char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(file);
  }
  check(static_cast<long>(bytes.size()) == expectedSize, std::string(path) + " has its size");
  return fnv1a(bytes.data(), bytes.size());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: n47_app_client DRIVER_PATH [FOLDER]\n");
    return 1;
  }
  const std::string folder = argc > 2 ? std::string(argv[2]) + "/" : std::string();
  void* fn[e::kExportCount] = {};
#if defined(_WIN32)
  // Dependencies of a DLL are looked for beside the program, not beside the DLL; an absolute
  // path with LOAD_WITH_ALTERED_SEARCH_PATH makes the driver's own folder, where USB_FRM01.dll
  // lies, the first place searched.
  char full[MAX_PATH];
  const DWORD length = GetFullPathNameA(argv[1], MAX_PATH, full, nullptr);
  HMODULE library = length > 0 && length < MAX_PATH ? LoadLibraryExA(full, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH) : nullptr;
  if (library == nullptr) {
    std::fprintf(stderr, "FAIL: cannot load %s (error %lu)\n", argv[1], GetLastError());
    return 1;
  }
  for (int i = 0; i < e::kExportCount; ++i) {
    fn[i] = reinterpret_cast<void*>(GetProcAddress(library, MAKEINTRESOURCEA(i + 1)));
    check(fn[i] != nullptr, std::string(kExports[i].name) + " resolves by ordinal " + std::to_string(i + 1));
  }
#else
  void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "FAIL: cannot load %s: %s\n", argv[1], dlerror());
    return 1;
  }
  for (int i = 0; i < e::kExportCount; ++i) {
    fn[i] = dlsym(library, kExports[i].name);
    check(fn[i] != nullptr, std::string(kExports[i].name) + " resolves by name");
  }
#endif
  if (g_failures > 0) return 1;

  using IntNone = int(N47_CALL*)(void);
  using IntInt = int(N47_CALL*)(int);
  using IntPath = int(N47_CALL*)(const char*);
  using Frame = unsigned short*(N47_CALL*)(void);
  using Calibrate = int(N47_CALL*)(unsigned short*, int, int);
  const auto call = [&](e::Export which) { return reinterpret_cast<IntNone>(fn[which])(); };
  const auto callInt = [&](e::Export which, int value) { return reinterpret_cast<IntInt>(fn[which])(value); };
  const auto callPath = [&](e::Export which, const std::string& path) {
    return reinterpret_cast<IntPath>(fn[which])(path.c_str());
  };

  check(call(e::Sys_Allocation_N47) == 1, "Sys_Allocation_N47");
  check(call(e::CheckInterface) == 1, "CheckInterface");
  check(call(e::Init_Comm) == 1, "Init_Comm");

  // A calibration series of three flats, a gentle ramp with a few dead pixels.
  constexpr int kFlats = 3;
  check(callInt(e::CalibrationMode, 1) == 1, "calibration mode on");
  std::vector<unsigned short> flat(static_cast<std::size_t>(N47_FRAME_WIDTH) * N47_FRAME_HEIGHT);
  for (int k = 0; k < kFlats; ++k) {
    // 64-bit arithmetic: a 32-bit size_t would wrap and feed 32-bit builds other flats.
    for (std::uint64_t i = 0; i < flat.size(); ++i) {
      flat[i] = static_cast<unsigned short>(6000 + (i % N47_FRAME_WIDTH) / 4 + (i * 7919 + k * 131) % 97);
      if (i % 50021 == 0) flat[i] = 0;
    }
    check(reinterpret_cast<Calibrate>(fn[e::Map_Calibration])(flat.data(), k, kFlats) == 1,
          "calibration step " + std::to_string(k));
  }
  const std::string pixelMap = folder + "app.pixelmap";
  const std::string gainMap = folder + "app.gainmap";
  check(callPath(e::SavePixelMap, pixelMap) == 1, "SavePixelMap");
  check(callPath(e::SaveGainMap, gainMap) == 1, "SaveGainMap");
  check(callInt(e::CalibrationMode, 0) == 0, "calibration mode off");
  check(callPath(e::LoadPixelMap, pixelMap) == 1, "LoadPixelMap");
  check(callPath(e::LoadGainMap, gainMap) == 1, "LoadGainMap");
  std::printf("%-20s %016llx\n", "app-pixel-map", static_cast<unsigned long long>(fileHash(pixelMap.c_str(), 3149313)));
  std::printf("%-20s %016llx\n", "app-gain-map", static_cast<unsigned long long>(fileHash(gainMap.c_str(), 12582912)));

  // One capture: ready, acquire, the corrected image.
  check(callInt(e::RunforDetector, 1) == 1, "ready");
  check(callInt(e::RunforDetector, 2) == 1, "acquire");
  const unsigned short* image = reinterpret_cast<Frame>(fn[e::GetImagePtr])();
  check(image != nullptr, "GetImagePtr");
  if (image != nullptr) {
    std::printf("%-20s %016llx\n", "app-capture", static_cast<unsigned long long>(fnv1a(image, flat.size() * 2)));
  }
  check(call(e::Sys_Free) == 1, "Sys_Free");
#if defined(_WIN32)
  check(FreeLibrary(library) != 0, "FreeLibrary");
#else
  check(dlclose(library) == 0, "dlclose");
#endif
  return checkSummary();
}
