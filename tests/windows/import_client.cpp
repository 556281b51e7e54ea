// Links against the driver's import library the way a Windows application built with the
// public header does. On 32-bit x86 the header's stdcall declarations make the compiler ask for
// the decorated symbols (_Sys_Free@0, _Map_Calibration@12, ...); the import library must
// resolve them to the plain exports. The Windows stage reads this program's import table.
#include <cstdio>

#include "tavrin_n47.h"

int main(int argc, char** argv) {
  (void)argv;
  if (argc > 1) {
    // Never run by the checks; it makes every export an import of this program.
    unsigned short frame[1] = {0};
    int sum = Sys_Free() + CheckSwitch() + Ready_Time_Chk() + RunforDetector(0) + LoadPixelMap("") +
              LoadGainMap("") + Sys_Allocation_N47() + CheckInterface() + GetTemperature() +
              GetSwitchMsg(0) + Init_Comm() + GetMsgLength() + SavePixelMap("") + SaveGainMap("") +
              Map_Calibration(frame, 0, 1) + CalibrationMode(0);
    std::printf("%d %p %p\n", sum, static_cast<void*>(SaveRawImage()), static_cast<void*>(GetImagePtr()));
  }
  return 0;
}
