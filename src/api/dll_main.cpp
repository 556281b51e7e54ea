// The DLL entry point. Loading and unloading create and destroy nothing: the detector exists
// only between Sys_Allocation_N47 and Sys_Free.
#if defined(_WIN32)
#  include "platform/windows_headers.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
  (void)instance;
  (void)reason;
  (void)reserved;
  return TRUE;
}
#endif
