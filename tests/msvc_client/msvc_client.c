/* A Visual C++ application of our users in miniature: compiled for the Microsoft ABI (clang
   --target=*-windows-msvc), linked by lld-link against the zip's Tavrin_N47_USB_REF.lib and a
   kernel32 import library alone, without a C runtime. It drives the simulator beside the
   driver (its control functions found with GetProcAddress), acquires a corrected flat and
   checks it. Prints "msvc client: all checks passed" and exits 0 when every check held. */
#include "n47sim/model_control.h"
#include "tavrin_n47.h"

#define WINAPI __stdcall
typedef void* HANDLE;
typedef int (*FARPROC)(void);
__declspec(dllimport) HANDLE WINAPI GetStdHandle(unsigned long which);
__declspec(dllimport) int WINAPI WriteFile(HANDLE file, const void* data, unsigned long size,
                                           unsigned long* written, void* overlapped);
__declspec(dllimport) HANDLE WINAPI LoadLibraryA(const char* name);
__declspec(dllimport) FARPROC WINAPI GetProcAddress(HANDLE module, const char* name);
__declspec(dllimport) __declspec(noreturn) void WINAPI ExitProcess(unsigned int code);

/* The compiler references this symbol from any code that uses floating point; the C runtime
   would define it. */
int _fltused = 0;

static int failures = 0;

static unsigned long length(const char* text) {
  unsigned long n = 0;
  while (text[n] != '\0') ++n;
  return n;
}

static void print(const char* text) {
  unsigned long written;
  WriteFile(GetStdHandle((unsigned long)-11), text, length(text), &written, 0);
}

static void print_number(unsigned long value) {
  char digits[24];
  int at = 23;
  digits[at] = '\0';
  do {
    digits[--at] = (char)('0' + value % 10);
    value /= 10;
  } while (value != 0);
  print(digits + at);
}

static void check(int condition, const char* what) {
  print(condition ? "ok   " : "FAIL ");
  print(what);
  print("\n");
  if (!condition) ++failures;
}

typedef void (*default_params_fn)(n47sim_model_params*, uint32_t);
typedef void (*model_start_fn)(const n47sim_model_params*);
typedef void (*set_scene_fn)(int, double);

void mainCRTStartup(void) {
  /* The driver imports USB_FRM01.dll, so it is loaded already: this only finds it. */
  HANDLE simulator = LoadLibraryA("USB_FRM01.dll");
  default_params_fn default_params = (default_params_fn)GetProcAddress(simulator, "n47sim_model_default_params");
  model_start_fn model_start = (model_start_fn)GetProcAddress(simulator, "n47sim_model_start");
  set_scene_fn set_scene = (set_scene_fn)GetProcAddress(simulator, "n47sim_model_set_scene");
  check(default_params != 0 && model_start != 0 && set_scene != 0, "the simulator's control functions are found");
  if (failures == 0) {
    n47sim_model_params params;
    default_params(&params, 47);
    model_start(&params);
    set_scene(N47SIM_SCENE_FLAT, 6000.0);
  }

  check(Sys_Allocation_N47() == 1, "the detector is created");
  check(CheckInterface() == 1 && GetMsgLength() == 64, "the simulated device is connected");
  check(CalibrationMode(0) == 0, "normal mode is set");
  check(RunforDetector(1) == 1 && RunforDetector(2) == 1, "a frame is acquired");

  const unsigned short* image = GetImagePtr();
  check(image != 0 && SaveRawImage() == image, "the image is there");
  if (image != 0) {
    /* Normal mode masks the 20-pixel border to the 14-bit ceiling; the open field is lit. */
    double sum = 0.0;
    unsigned long inside = 0, above = 0;
    for (int y = 20; y < N47_FRAME_HEIGHT - 20; ++y)
      for (int x = 20; x < N47_FRAME_WIDTH - 20; ++x) {
        const unsigned short value = image[y * N47_FRAME_WIDTH + x];
        sum += value;
        ++inside;
        if (value > 16383) ++above;
      }
    const double mean = sum / (double)inside;
    print("     open-field mean ");
    print_number((unsigned long)(int)mean);
    print(" counts\n");
    check(image[0] == 16383 && image[N47_FRAME_WIDTH * N47_FRAME_HEIGHT - 1] == 16383, "the border is masked");
    check(mean > 1000.0 && mean < 16383.0, "the flat is exposed");
    check(above == 0, "every pixel is within 14 bits");
  }
  check(Sys_Free() == 1 && Sys_Free() == -1, "the detector is freed");
  print(failures == 0 ? "msvc client: all checks passed\n" : "msvc client: checks failed\n");
  ExitProcess(failures == 0 ? 0 : 1);
}
