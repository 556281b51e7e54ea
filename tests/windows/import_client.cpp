// Links against the driver's import library the way a Windows application built with the
// public header does, and runs. On 32-bit x86 the header's stdcall declarations make the
// compiler ask for the decorated symbols (_Sys_Free@0, _Map_Calibration@12, ...); the import
// library must resolve them to the plain exports, or the program does not even start. Every
// export is called once, through a short life of the detector; the Windows stage also reads
// this program's import table.
//   n47_import_client [FOLDER]   (FOLDER: where the maps go, default the working folder)
#include <cstdio>
#include <string>
#include <vector>

#include "tavrin_n47.h"

namespace {
int g_checks = 0;
int g_failures = 0;
void check(bool ok, const char* what) {
  ++g_checks;
  if (!ok) {
    ++g_failures;
    std::fprintf(stderr, "FAIL: %s\n", what);
  }
}
}  // namespace

int main(int argc, char** argv) {
  const std::string folder = argc > 1 ? std::string(argv[1]) + "/" : std::string();
  const std::string pixelMap = folder + "import.pixelmap";
  const std::string gainMap = folder + "import.gainmap";
  std::vector<unsigned short> frame(static_cast<std::size_t>(N47_FRAME_WIDTH) * N47_FRAME_HEIGHT, 7000);

  check(Sys_Free() == -1, "Sys_Free without a detector");
  check(Sys_Allocation_N47() == 1, "Sys_Allocation_N47");
  check(CheckInterface() == 1, "CheckInterface");
  check(GetMsgLength() == 64, "GetMsgLength");
  check(CheckSwitch() == 1 && GetSwitchMsg(0) == 0 && GetTemperature() == 0, "an empty control message");
  check(Init_Comm() == 1, "Init_Comm");
  check(CalibrationMode(1) == 1, "calibration mode on");
  check(Map_Calibration(frame.data(), 0, 1) == 1, "a calibration series of one flat");
  check(SavePixelMap(pixelMap.c_str()) == 1 && SaveGainMap(gainMap.c_str()) == 1, "maps saved");
  check(CalibrationMode(0) == 0, "calibration mode off");
  check(LoadPixelMap(pixelMap.c_str()) == 1 && LoadGainMap(gainMap.c_str()) == 1, "maps loaded");
  check(RunforDetector(1) == 1 && RunforDetector(2) == 1, "ready and acquire");
  check(GetImagePtr() != nullptr && GetImagePtr() == SaveRawImage(), "the image");
  check(RunforDetector(1) == 1 && Ready_Time_Chk() == 1, "ready time");
  check(Sys_Free() == 1, "Sys_Free");
  std::fprintf(stderr, "%d checks, %d failed\n", g_checks, g_failures);
  return g_failures == 0 ? 0 : 1;
}
