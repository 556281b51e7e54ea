// An application's view of the driver: loads the built library at run time, resolves the 18
// exports (by name, and on Windows also by ordinal) and drives the whole life of a detector
// through them against the grabber simulator: the no-detector answers, control messages, a
// calibration series, map files saved, replaced and loaded again, captures with loaded maps.
//
// Every input is generated with integer arithmetic, so the simulator feeds identical frames on
// every platform. The host prints one line per result (FNV-1a hashes of frames and files) and
// writes the last corrected frame to `corrected.raw` in the working folder: runs on Linux,
// under Wine and under qemu-i386 must print the same lines and write the same file.
//
// On 32-bit x86 (Linux and Windows) every export is called through a small assembly trampoline
// that measures how many argument bytes the callee removed from the stack (stdcall: 4 per
// argument).
//
// Usage: n47_export_host [LIBRARY [FOLDER]]   (FOLDER: where files go, default the working
// folder; failures print FAIL lines and end with status 1)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "host_support.h"
#include "tavrin_n47.h"

#if defined(__i386__) && defined(__GNUC__)
#  define N47_HOST_MEASURES_STACK 1
// Calls `fn` with `argc` 32-bit arguments on a 16-byte aligned stack and returns how many
// bytes the callee popped on return; the callee's eax goes to *result. The assembler name is
// given so that ELF and PE (which prefixes C names with _) agree with the code below.
extern "C" int n47_measure_call(const void* fn, int argc, const std::uint32_t* args, std::uint32_t* result)
    __asm__("n47_measure_call");
#  if defined(__ELF__)
#    define N47_ASM_TYPE ".type n47_measure_call, @function\n"
#    define N47_ASM_SIZE ".size n47_measure_call, .-n47_measure_call\n"
#  else
#    define N47_ASM_TYPE ""
#    define N47_ASM_SIZE ""
#  endif
asm(".text\n"
    ".globl n47_measure_call\n" N47_ASM_TYPE R"(
n47_measure_call:
    pushl %ebp
    movl %esp, %ebp
    pushl %ebx
    pushl %esi
    pushl %edi
    movl 12(%ebp), %ecx
    movl 16(%ebp), %esi
    leal 0(,%ecx,4), %eax
    subl %eax, %esp
    andl $-16, %esp
    xorl %edx, %edx
1:  cmpl %ecx, %edx
    jge 2f
    movl (%esi,%edx,4), %eax
    movl %eax, (%esp,%edx,4)
    incl %edx
    jmp 1b
2:  movl %esp, %edi
    call *8(%ebp)
    movl 20(%ebp), %ecx
    movl %eax, (%ecx)
    movl %esp, %eax
    subl %edi, %eax
    leal -12(%ebp), %esp
    popl %edi
    popl %esi
    popl %ebx
    popl %ebp
    ret
)" N47_ASM_SIZE);
#endif

namespace {

constexpr int kWidth = N47_FRAME_WIDTH;
constexpr int kHeight = N47_FRAME_HEIGHT;
constexpr int kPixels = kWidth * kHeight;
constexpr int kMapWidth = kWidth + 1;
constexpr int kMapHeight = kHeight + 1;
constexpr long kPixelMapBytes = static_cast<long>(kMapWidth) * kMapHeight;
constexpr long kGainMapBytes = static_cast<long>(kPixels) * 4;

// The contract with the application (src/api/exports.csv) comes from host_support.h.
using namespace n47host;
using e::Export;
using e::kExportCount;

// ---- loading -------------------------------------------------------------------------------

#if defined(_WIN32)
using Module = HMODULE;
Module openLibrary(const char* path) { return LoadLibraryA(path); }
Module openLoaded(const char* name) { return GetModuleHandleA(name); }
void* symbol(Module module, const char* name) { return reinterpret_cast<void*>(GetProcAddress(module, name)); }
void* ordinal(Module module, int number) {
  return reinterpret_cast<void*>(GetProcAddress(module, MAKEINTRESOURCEA(number)));
}
constexpr const char* kDefaultLibrary = "Tavrin_N47_USB_REF.dll";
constexpr const char* kSimulator = "USB_FRM01.dll";
#else
using Module = void*;
Module openLibrary(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
// The driver brought the simulator in as its dependency; this finds that same copy.
Module openLoaded(const char* name) { return dlopen(name, RTLD_NOW | RTLD_NOLOAD); }
void* symbol(Module module, const char* name) { return dlsym(module, name); }
constexpr const char* kDefaultLibrary = "./libTavrin_N47_USB_REF.so";
constexpr const char* kSimulator = "libUSB_FRM01.so";
#endif

// ---- the exports, typed ----------------------------------------------------------------------

using IntNone = int(N47_CALL*)(void);
using IntInt = int(N47_CALL*)(int);
using IntPath = int(N47_CALL*)(const char*);
using FrameNone = unsigned short*(N47_CALL*)(void);
using IntCalibration = int(N47_CALL*)(unsigned short*, int, int);

void* g_export[kExportCount];

#if defined(N47_HOST_MEASURES_STACK)
std::uint32_t word(int value) { return static_cast<std::uint32_t>(value); }
std::uint32_t word(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

// Calls export `which` with its arguments as 32-bit words and checks the bytes it popped.
template <typename... Args>
std::uint32_t measuredCall(Export which, Args... args) {
  const std::uint32_t words[] = {0u, word(args)...};
  std::uint32_t result = 0;
  const int popped = n47_measure_call(g_export[which], static_cast<int>(sizeof...(Args)), words + 1, &result);
  check(popped == kExports[which].argumentBytes,
        std::string(kExports[which].name) + " popped " + std::to_string(popped) + " bytes, expected " +
            std::to_string(kExports[which].argumentBytes));
  return result;
}
#endif

int callInt(Export which) {
#if defined(N47_HOST_MEASURES_STACK)
  return static_cast<int>(measuredCall(which));
#else
  return reinterpret_cast<IntNone>(g_export[which])();
#endif
}
int callInt(Export which, int argument) {
#if defined(N47_HOST_MEASURES_STACK)
  return static_cast<int>(measuredCall(which, argument));
#else
  return reinterpret_cast<IntInt>(g_export[which])(argument);
#endif
}
int callPath(Export which, const char* path) {
#if defined(N47_HOST_MEASURES_STACK)
  return static_cast<int>(measuredCall(which, path));
#else
  return reinterpret_cast<IntPath>(g_export[which])(path);
#endif
}
unsigned short* callFrame(Export which) {
#if defined(N47_HOST_MEASURES_STACK)
  return reinterpret_cast<unsigned short*>(static_cast<std::uintptr_t>(measuredCall(which)));
#else
  return reinterpret_cast<FrameNone>(g_export[which])();
#endif
}
int callCalibration(unsigned short* frame, int index, int count) {
#if defined(N47_HOST_MEASURES_STACK)
  return static_cast<int>(measuredCall(e::Map_Calibration, frame, index, count));
#else
  return reinterpret_cast<IntCalibration>(g_export[e::Map_Calibration])(frame, index, count);
#endif
}

// ---- the simulator's control functions (cdecl) ---------------------------------------------

struct Simulator {
  void (*reset)(void);
  void (*setFrame)(const std::uint16_t*, std::size_t);
  void (*pushMessage)(const std::uint8_t*, std::size_t);
  std::size_t (*callCount)(void);
  std::size_t (*framesDelivered)(void);
};
Simulator g_sim;

template <typename F>
bool resolve(Module module, const char* name, F& target) {
  void* address = symbol(module, name);
  target = reinterpret_cast<F>(address);
  check(address != nullptr, std::string("simulator function ") + name + " resolves");
  return address != nullptr;
}

// ---- inputs: integer arithmetic only ---------------------------------------------------------

struct Random {
  std::uint64_t state;
  std::uint32_t next() {
    state += 0x9E3779B97F4A7C15ull;
    std::uint64_t z = state;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return static_cast<std::uint32_t>((z ^ (z >> 31)) >> 32);
  }
  int below(int n) { return static_cast<int>(next() % static_cast<std::uint32_t>(n)); }
};

constexpr int kDeadRow = 700;
constexpr int kBrightColumn = 1234;

// What the panel's defects do to any frame: dead and hot pixels, a dead row, a bright column.
void addPanelDefects(std::vector<std::uint16_t>& frame) {
  Random random{77};
  for (int i = 0; i < 400; ++i) frame[static_cast<std::size_t>(random.below(kPixels))] = (i % 2) ? 16383 : 0;
  for (int c = 0; c < kWidth; ++c) frame[static_cast<std::size_t>(kDeadRow) * kWidth + c] = 40;
  for (int r = 0; r < kHeight; ++r) frame[static_cast<std::size_t>(r) * kWidth + kBrightColumn] = 15800;
}

std::vector<std::uint16_t> flatFrame(int index) {
  std::vector<std::uint16_t> frame(kPixels);
  Random random{1000u + static_cast<std::uint64_t>(index)};
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      const int shading = ((r - 768) * (r - 768) + (c - 1024) * (c - 1024)) / 2000;
      frame[static_cast<std::size_t>(r) * kWidth + c] =
          static_cast<std::uint16_t>(7000 - shading + (r * 7 + c * 3) % 300 + random.below(161) - 80);
    }
  }
  addPanelDefects(frame);
  return frame;
}

// A step wedge with line pairs and a sprinkling of impulses, over the same panel defects.
std::vector<std::uint16_t> sceneFrame() {
  std::vector<std::uint16_t> frame(kPixels);
  Random random{4242};
  for (int r = 0; r < kHeight; ++r) {
    for (int c = 0; c < kWidth; ++c) {
      int value = 600 + (c / 256) * 1700;
      if (r >= 600 && r < 900 && (c / 4) % 2 == 0) value /= 2;
      frame[static_cast<std::size_t>(r) * kWidth + c] = static_cast<std::uint16_t>(value + random.below(41) - 20);
    }
  }
  for (int i = 0; i < 3000; ++i) frame[static_cast<std::size_t>(random.below(kPixels))] = 16000;
  addPanelDefects(frame);
  return frame;
}

std::vector<std::uint8_t> handMadePixelMap() {
  std::vector<std::uint8_t> map(static_cast<std::size_t>(kPixelMapBytes), 0);
  Random random{9};
  for (int i = 0; i < 3000; ++i) {
    const int r = random.below(kHeight);
    const int c = random.below(kWidth);
    map[static_cast<std::size_t>(r) * kMapWidth + c] = static_cast<std::uint8_t>(1 + i % 3);
  }
  map[static_cast<std::size_t>(kDeadRow) * kMapWidth + kWidth] = 1;                // row marker
  map[static_cast<std::size_t>(kHeight) * kMapWidth + kBrightColumn] = 1;           // column marker
  map[static_cast<std::size_t>(kHeight) * kMapWidth + kWidth - 3] = 7;              // edge column
  return map;
}

std::vector<std::uint8_t> handMadeGainMap() {
  std::vector<std::uint8_t> bytes(static_cast<std::size_t>(kGainMapBytes));
  for (int i = 0; i < kPixels; ++i) {
    // Exact in binary32: an integer over a power of two.
    const float gain = 0.75f + static_cast<float>(i % 1024) / 2048.0f;
    std::uint32_t bits;
    std::memcpy(&bits, &gain, 4);
    for (int b = 0; b < 4; ++b) bytes[static_cast<std::size_t>(i) * 4 + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  return bytes;
}

// ---- results ------------------------------------------------------------------------------

std::uint64_t fnv1a(const void* data, std::size_t size, std::uint64_t hash = 0xCBF29CE484222325ull) {
  const auto* bytes = static_cast<const std::uint8_t*>(data);
  for (std::size_t i = 0; i < size; ++i) hash = (hash ^ bytes[i]) * 0x100000001B3ull;
  return hash;
}

void report(const char* what, std::uint64_t hash) {
  std::printf("%-28s %016llx\n", what, static_cast<unsigned long long>(hash));
}

bool writeFile(const char* path, const void* data, std::size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (file == nullptr) return false;
  const bool ok = std::fwrite(data, 1, size, file) == size;
  return std::fclose(file) == 0 && ok;
}

std::vector<std::uint8_t> readFile(const char* path) {
  std::vector<std::uint8_t> bytes;
  std::FILE* file = std::fopen(path, "rb");
  if (file == nullptr) return bytes;
  std::uint8_t buffer[65536];
  std::size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0) bytes.insert(bytes.end(), buffer, buffer + got);
  std::fclose(file);
  return bytes;
}

// Files in the working folder that a save left under a temporary name.
int temporariesLeft() {
  int found = 0;
  for (const auto& entry : std::filesystem::directory_iterator("."))
    if (entry.path().extension() == ".tmp") ++found;
  return found;
}

bool exists(const char* path) {
  std::FILE* file = std::fopen(path, "rb");
  if (file != nullptr) std::fclose(file);
  return file != nullptr;
}

// One acquisition of `scene`: ready, acquire; the hash of the corrected frame.
std::uint64_t capture(const std::vector<std::uint16_t>& scene, const char* what) {
  const std::size_t before = g_sim.framesDelivered();
  g_sim.setFrame(scene.data(), scene.size());
  check(callInt(e::RunforDetector, 1) == 1, std::string(what) + ": ready command accepted");
  check(callInt(e::RunforDetector, 2) == 1, std::string(what) + ": acquire command delivers a frame");
  check(g_sim.framesDelivered() == before + 1, std::string(what) + ": one frame read from the grabber");
  const unsigned short* image = callFrame(e::GetImagePtr);
  check(image != nullptr, std::string(what) + ": image pointer");
  if (image == nullptr) return 0;
  const std::uint64_t hash = fnv1a(image, static_cast<std::size_t>(kPixels) * 2);
  report(what, hash);
  return hash;
}

// ---- the run ------------------------------------------------------------------------------

bool resolveExports(Module library) {
  bool all = true;
  for (int i = 0; i < kExportCount; ++i) {
    g_export[i] = symbol(library, kExports[i].name);
    check(g_export[i] != nullptr, std::string(kExports[i].name) + " resolves by name");
    all = all && g_export[i] != nullptr;
#if defined(_WIN32)
    check(ordinal(library, kExports[i].ordinal) == g_export[i],
          std::string(kExports[i].name) + " resolves by ordinal " + std::to_string(kExports[i].ordinal));
    // The stdcall-decorated spellings are not exported beside the plain name.
    const std::string decorated = std::string(kExports[i].name) + "@" + std::to_string(kExports[i].argumentBytes);
    check(symbol(library, decorated.c_str()) == nullptr, decorated + " is not exported");
    check(symbol(library, ("_" + decorated).c_str()) == nullptr, "_" + decorated + " is not exported");
#endif
  }
#if defined(_WIN32)
  check(ordinal(library, kExportCount + 1) == nullptr, "no export at ordinal 19");
#endif
  return all;
}

void noDetectorAnswers() {
  unsigned short frame[4] = {};
  g_sim.reset();
  check(callInt(e::Sys_Free) == -1, "Sys_Free without a detector");
  check(callInt(e::CheckSwitch) == -1, "CheckSwitch without a detector");
  check(callInt(e::Ready_Time_Chk) == 0, "Ready_Time_Chk without a detector");
  check(callInt(e::RunforDetector, 7) == 7, "RunforDetector without a detector returns the command");
  check(callPath(e::LoadPixelMap, "hand.pixelmap") == 0, "LoadPixelMap without a detector");
  check(callPath(e::LoadGainMap, "hand.gainmap") == 0, "LoadGainMap without a detector");
  check(callFrame(e::SaveRawImage) == nullptr, "SaveRawImage without a detector");
  check(callInt(e::CheckInterface) == -1, "CheckInterface without a detector");
  check(callInt(e::GetTemperature) == -1, "GetTemperature without a detector");
  check(callInt(e::GetSwitchMsg, 3) == 0, "GetSwitchMsg without a detector");
  check(callInt(e::Init_Comm) == -1, "Init_Comm without a detector");
  check(callInt(e::GetMsgLength) == -1, "GetMsgLength without a detector");
  check(callPath(e::SavePixelMap, "none.pixelmap") == -1, "SavePixelMap without a detector");
  check(callPath(e::SaveGainMap, "none.gainmap") == -1, "SaveGainMap without a detector");
  check(callCalibration(frame, 0, 1) == -1, "Map_Calibration without a detector");
  check(callFrame(e::GetImagePtr) == nullptr, "GetImagePtr without a detector");
  check(callInt(e::CalibrationMode, 1) == -1, "CalibrationMode without a detector");
  check(g_sim.callCount() == 0, "no grabber call without a detector");
  check(!exists("none.pixelmap") && !exists("none.gainmap"), "no file written without a detector");
}

void controlMessages() {
  std::uint8_t message[64] = {};
  message[0] = 'v';
  message[1] = 's';
  message[2] = 'u';
  message[10] = 'f';
  message[11] = 30;  // 25 degrees
  message[12] = 'g';
  g_sim.pushMessage(message, sizeof message);
  check(callInt(e::CheckSwitch) == 1, "CheckSwitch reads a message");
  check(callInt(e::GetSwitchMsg, 0) == 1 && callInt(e::GetSwitchMsg, 1) == 2 && callInt(e::GetSwitchMsg, 2) == 3,
        "switch codes v, s, u decode to 1, 2, 3");
  check(callInt(e::GetSwitchMsg, 10) == 0 && callInt(e::GetTemperature) == 25, "temperature frame decodes");
  check(callInt(e::GetSwitchMsg, 64) == 0 && callInt(e::GetSwitchMsg, -1) == 0, "index outside the message");
  check(callInt(e::Init_Comm) == 1, "Init_Comm drains the channel");
}

void calibrationSeries() {
  constexpr int kFlats = 4;
  check(callInt(e::CalibrationMode, 1) == 1, "calibration mode on");
  check(callCalibration(nullptr, 0, kFlats) == 0, "Map_Calibration refuses a null frame");
  std::uint64_t hash = 0xCBF29CE484222325ull;
  for (int k = 0; k < kFlats; ++k) {
    std::vector<std::uint16_t> flat = flatFrame(k);
    check(callCalibration(flat.data(), k, kFlats) == 1, "calibration step " + std::to_string(k));
    hash = fnv1a(flat.data(), flat.size() * 2, hash);
  }
  report("calibration-frames", hash);

  // Saved twice: the second save replaces the first file in one step.
  for (int round = 0; round < 2; ++round) {
    check(callPath(e::SavePixelMap, "calibrated.pixelmap") == 1, "SavePixelMap");
    check(callPath(e::SaveGainMap, "calibrated.gainmap") == 1, "SaveGainMap");
  }
  check(temporariesLeft() == 0, "no temporary left behind");
  check(callPath(e::SavePixelMap, "no-such-folder/x.pixelmap") == 0, "SavePixelMap into a missing folder fails");
  check(callPath(e::SaveGainMap, nullptr) == 0, "SaveGainMap with a null path fails");
  const std::vector<std::uint8_t> pixelFile = readFile("calibrated.pixelmap");
  const std::vector<std::uint8_t> gainFile = readFile("calibrated.gainmap");
  check(static_cast<long>(pixelFile.size()) == kPixelMapBytes, "pixel-map file size");
  check(static_cast<long>(gainFile.size()) == kGainMapBytes, "gain-map file size");
  report("calibrated-pixel-map-file", fnv1a(pixelFile.data(), pixelFile.size()));
  report("calibrated-gain-map-file", fnv1a(gainFile.data(), gainFile.size()));
  check(callInt(e::CalibrationMode, 0) == 0, "calibration mode off");
}

void capturesWithLoadedMaps() {
  const std::vector<std::uint8_t> pixelMap = handMadePixelMap();
  const std::vector<std::uint8_t> gainMap = handMadeGainMap();
  check(writeFile("hand.pixelmap", pixelMap.data(), pixelMap.size()), "write hand.pixelmap");
  check(writeFile("hand.gainmap", gainMap.data(), gainMap.size()), "write hand.gainmap");
  check(callPath(e::LoadPixelMap, "hand.pixelmap") == 1, "LoadPixelMap hand.pixelmap");
  check(callPath(e::LoadGainMap, "hand.gainmap") == 1, "LoadGainMap hand.gainmap");
  check(callPath(e::LoadPixelMap, "hand.gainmap") == 0, "LoadPixelMap refuses a file of the wrong size");
  check(callPath(e::LoadGainMap, "missing.gainmap") == 0, "LoadGainMap refuses a missing file");
  check(callPath(e::LoadPixelMap, nullptr) == 0, "LoadPixelMap refuses a null path");

  const std::vector<std::uint16_t> scene = sceneFrame();
  report("scene-input", fnv1a(scene.data(), scene.size() * 2));
  capture(scene, "capture-hand-made-maps");

  check(callPath(e::LoadPixelMap, "calibrated.pixelmap") == 1, "LoadPixelMap calibrated.pixelmap");
  check(callPath(e::LoadGainMap, "calibrated.gainmap") == 1, "LoadGainMap calibrated.gainmap");
  capture(scene, "capture-calibrated-maps");
  const unsigned short* image = callFrame(e::GetImagePtr);
  if (image != nullptr) {
    check(writeFile("corrected.raw", image, static_cast<std::size_t>(kPixels) * 2), "write corrected.raw");
  }

  check(callInt(e::CalibrationMode, 1) == 1, "calibration mode on");
  capture(scene, "capture-calibration-mode");
  check(callInt(e::CalibrationMode, 0) == 0, "calibration mode off");
}

void readyTime() {
  check(callInt(e::RunforDetector, 3) == 1, "stop command");
  check(callInt(e::RunforDetector, 1) == 1, "ready command");
  std::string answers;
  for (int i = 0; i < 6; ++i) answers += std::to_string(callInt(e::Ready_Time_Chk));
  check(answers == "111101", "Ready_Time_Chk ends the ready state on the fifth call, got " + answers);
  check(callInt(e::RunforDetector, 99) == 0, "unknown command");
}

// Compiler-generated calls through the typed (stdcall on 32-bit x86) pointers.
void typedPointers() {
  const auto allocate = reinterpret_cast<IntNone>(g_export[e::Sys_Allocation_N47]);
  const auto release = reinterpret_cast<IntNone>(g_export[e::Sys_Free]);
  const auto getImage = reinterpret_cast<FrameNone>(g_export[e::GetImagePtr]);
  const auto saveRaw = reinterpret_cast<FrameNone>(g_export[e::SaveRawImage]);
  const auto mode = reinterpret_cast<IntInt>(g_export[e::CalibrationMode]);
  const auto load = reinterpret_cast<IntPath>(g_export[e::LoadPixelMap]);
  const auto calibrate = reinterpret_cast<IntCalibration>(g_export[e::Map_Calibration]);
  check(allocate() == 1, "typed: a fresh detector after Sys_Free");
  check(getImage() != nullptr && getImage() == saveRaw(), "typed: GetImagePtr and SaveRawImage agree");
  check(mode(1) == 1 && mode(5) == 5 && mode(0) == 0, "typed: CalibrationMode");
  check(load("missing.pixelmap") == 0, "typed: LoadPixelMap of a missing file");
  check(calibrate(nullptr, 0, 1) == 0, "typed: Map_Calibration refuses a null frame");
  check(release() == 1 && release() == -1, "typed: Sys_Free");
}

}  // namespace

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : kDefaultLibrary;
  Module library = openLibrary(path);
  if (argc > 2) {
    std::error_code error;
    std::filesystem::create_directories(argv[2], error);
    std::filesystem::current_path(argv[2], error);
    if (error) {
      std::fprintf(stderr, "FAIL: cannot work in %s: %s\n", argv[2], error.message().c_str());
      return 1;
    }
  }
  for (const char* stale : {"none.pixelmap", "none.gainmap", "calibrated.pixelmap", "calibrated.gainmap",
                            "hand.pixelmap", "hand.gainmap", "corrected.raw"}) {
    std::remove(stale);
  }
  if (library == nullptr) {
    std::fprintf(stderr, "FAIL: cannot load %s\n", path);
    return 1;
  }
  Module simulator = openLoaded(kSimulator);
  if (simulator == nullptr) {
    std::fprintf(stderr, "FAIL: the driver did not bring in %s\n", kSimulator);
    return 1;
  }
  bool ready = resolveExports(library);
  ready = resolve(simulator, "n47sim_reset", g_sim.reset) && ready;
  ready = resolve(simulator, "n47sim_set_frame", g_sim.setFrame) && ready;
  ready = resolve(simulator, "n47sim_push_message", g_sim.pushMessage) && ready;
  ready = resolve(simulator, "n47sim_call_count", g_sim.callCount) && ready;
  ready = resolve(simulator, "n47sim_frames_delivered", g_sim.framesDelivered) && ready;
  if (!ready) return 1;

  noDetectorAnswers();
  check(callInt(e::Sys_Allocation_N47) == 1, "Sys_Allocation_N47 creates the detector");
  check(callInt(e::Sys_Allocation_N47) == -1, "a second Sys_Allocation_N47 is refused");
  check(callInt(e::CheckInterface) == 1, "the device opened");
  check(callInt(e::GetMsgLength) == 64, "message length");
  check(callFrame(e::GetImagePtr) != nullptr && callFrame(e::GetImagePtr) == callFrame(e::SaveRawImage),
        "SaveRawImage is GetImagePtr");
  controlMessages();
  calibrationSeries();
  capturesWithLoadedMaps();
  readyTime();
  check(callInt(e::Sys_Free) == 1, "Sys_Free destroys the detector");
  check(callInt(e::Sys_Free) == -1, "a second Sys_Free finds none");
  check(callFrame(e::GetImagePtr) == nullptr, "no image after Sys_Free");
  typedPointers();

  return checkSummary();
}
