/* An application of our users, built against an installed SDK only: it creates the detector
   against the simulated one, acquires a corrected flat and checks it. Exit status 0 when
   every check held. */
#include <stdio.h>
#include <stdlib.h>

#include "n47sim/model_control.h"
#include "tavrin_n47.h"

static int failures = 0;

static void check(int condition, const char* what) {
  printf("%s %s\n", condition ? "ok  " : "FAIL", what);
  if (!condition) ++failures;
}

int main(void) {
  n47sim_model_params params;
  n47sim_model_default_params(&params, 47);
  n47sim_model_start(&params);
  n47sim_model_set_scene(N47SIM_SCENE_FLAT, 6000.0);

  check(Sys_Allocation_N47() == 1, "the detector is created");
  check(CheckInterface() == 1, "the simulated device is connected");
  check(RunforDetector(1) == 1 && RunforDetector(2) == 1, "a frame is acquired");

  const unsigned short* image = (const unsigned short*)GetImagePtr();
  check(image != NULL, "the image is there");
  if (image != NULL) {
    /* Normal mode masks the 20-pixel border to the 14-bit ceiling; the open field is lit. */
    double sum = 0.0;
    int inside = 0, above = 0;
    for (int y = 20; y < N47_FRAME_HEIGHT - 20; ++y)
      for (int x = 20; x < N47_FRAME_WIDTH - 20; ++x) {
        sum += image[y * N47_FRAME_WIDTH + x];
        ++inside;
        if (image[y * N47_FRAME_WIDTH + x] > 16383) ++above;
      }
    const double mean = sum / inside;
    printf("     open-field mean %.1f counts\n", mean);
    check(image[0] == 16383 && image[N47_FRAME_WIDTH * N47_FRAME_HEIGHT - 1] == 16383, "the border is masked");
    check(mean > 1000.0 && mean < 16383.0, "the flat is exposed");
    check(above == 0, "every pixel is within 14 bits");
  }
  check(Sys_Free() == 1, "the detector is freed");
  printf("%s\n", failures == 0 ? "consumer: all checks passed" : "consumer: checks failed");
  return failures == 0 ? EXIT_SUCCESS : EXIT_FAILURE;
}
