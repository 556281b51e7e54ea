/*
 * The simulated detector behind the USB_FRM01 simulator: a seeded physical model of the
 * panel (dark offset, pixel response, shading, noise, saturation, defects, impulses) that
 * renders dark frames, flat exposures and a test phantom, plays back raw frame files, and
 * sends control messages with switch codes and a drifting temperature. Tests and tools read
 * its ground truth (ideal image, defect list) here.
 *
 * Off after n47sim_reset(); n47sim_model_start() puts it in charge of LVDS_GetFrame and of
 * UART_GetData whenever no scripted message is queued.
 */
#ifndef N47SIM_MODEL_CONTROL_H
#define N47SIM_MODEL_CONTROL_H

#include "n47sim/sim_control.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Each field's range, both ends included, is in the comment beside it; n47sim_model_ranges()
   gives the same ranges to programs. They keep every defect on the panel and every pixel's
   response positive and finite. */
typedef struct n47sim_model_params {
  uint32_t seed;             /* any value */
  double dark_offset;        /* mean dark level, counts (about 100): 0 to 16383 */
  double dark_spread;        /* per-pixel spread of the dark level, counts: 0 to 1000 */
  double prnu;               /* per-pixel gain spread, relative (e.g. 0.03): 0 to 0.1 */
  double shading;            /* depth of the smooth low-frequency shading, relative: 0 to 0.75 */
  double read_noise;         /* counts, per frame: 0 to 1000 */
  double quantum_gain;       /* counts per quantum: quantum noise variance = signal x this: 0 to 100 */
  double impulse_rate;       /* share of pixels hit by an impulse in each frame: 0 to 1 */
  int dead_pixels, hot_pixels, noisy_pixels; /* 0 to 100000 each */
  int clusters;              /* small clusters of hot pixels: 0 to 10000 */
  int dead_rows;             /* single dead rows, about 430 rows apart from row 200 on: 0 to 3 */
  int bright_columns;        /* single bright columns, about 700 apart from column 300 on: 0 to 3 */
  int band_lines;            /* adjacent defective rows forming one band from row 1000 to 1199 on: 0 to 337 */
} n47sim_model_params;

/* Realistic defaults for the given seed. */
N47SIM_API void n47sim_model_default_params(n47sim_model_params* params, uint32_t seed);

typedef struct n47sim_model_range {
  const char* name; /* the field's name in n47sim_model_params */
  double low, high; /* both included */
} n47sim_model_range;

/* The ranges of the fields after the seed, in the struct's order; *count receives how many. */
N47SIM_API const n47sim_model_range* n47sim_model_ranges(size_t* count);

/* Builds the panel from the parameters (NULL: the defaults of seed 1) and puts the model in
   charge of frames and messages. 1 when done; 0 when a field lies outside its range, and then
   nothing changes (the previous model, or none, stays in charge). */
N47SIM_API int n47sim_model_start(const n47sim_model_params* params);

typedef enum n47sim_scene { N47SIM_SCENE_DARK = 0, N47SIM_SCENE_FLAT = 1, N47SIM_SCENE_PHANTOM = 2 } n47sim_scene;

/* The scene of the next frames; dose in counts of signal above the dark level at unit gain. */
N47SIM_API void n47sim_model_set_scene(int scene, double dose);

/* Renders one frame of the current scene into `frame` (N47SIM_FRAME_PIXELS values) as
   LVDS_GetFrame does: each call draws fresh noise, and the sequence repeats for a seed. */
N47SIM_API void n47sim_model_render(uint16_t* frame);

/* The noise-free image of the current scene as a perfect correction would show it: dark level
   plus the dose times the panel's mean response, through the scene. */
N47SIM_API void n47sim_model_ideal(uint16_t* frame);

typedef enum n47sim_defect_kind {
  N47SIM_DEFECT_DEAD = 1,    /* reads 0 */
  N47SIM_DEFECT_HOT = 2,     /* reads 16383 */
  N47SIM_DEFECT_NOISY = 3,   /* large extra noise */
  N47SIM_DEFECT_CLUSTER = 4, /* part of a small cluster of hot pixels */
  N47SIM_DEFECT_ROW = 5,     /* part of a dead row or of the band */
  N47SIM_DEFECT_COLUMN = 6   /* part of a bright column */
} n47sim_defect_kind;

typedef struct n47sim_defect {
  int kind;
  int row, column; /* for rows: column -1; for columns: row -1 */
} n47sim_defect;

/* Copies up to `capacity` defects and returns how many the panel has. */
N47SIM_API size_t n47sim_model_defects(n47sim_defect* defects, size_t capacity);

/* Plays back a raw frame file (headerless 2048 x 1536 little-endian 16-bit) for every later
   frame. 1 when the file was read whole; 0 (nothing changes) otherwise. */
N47SIM_API int n47sim_play_raw_file(const char* path);

/* The temperature the panel reports now, degrees. */
N47SIM_API int n47sim_model_temperature(void);

/* A copy of the last frame LVDS_GetFrame delivered (N47SIM_FRAME_PIXELS values). */
N47SIM_API void n47sim_last_frame(uint16_t* frame);

#ifdef __cplusplus
}
#endif

#endif
