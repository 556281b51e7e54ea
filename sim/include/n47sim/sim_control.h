/*
 * Control interface of the USB_FRM01 simulator: scripts what the 11 grabber functions answer
 * and records every call they receive. Tests and tools call it directly; the detector
 * library never does.
 */
#ifndef N47SIM_SIM_CONTROL_H
#define N47SIM_SIM_CONTROL_H

#include <stddef.h>
#include <stdint.h>

#if defined(_WIN32)
#  if defined(USB_FRM01_BUILDING)
#    define N47SIM_API __declspec(dllexport)
#  else
#    define N47SIM_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define N47SIM_API __attribute__((__visibility__("default")))
#else
#  define N47SIM_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

enum {
  N47SIM_FRAME_WIDTH = 2048,
  N47SIM_FRAME_HEIGHT = 1536,
  N47SIM_FRAME_PIXELS = 2048 * 1536,
  N47SIM_MESSAGE_BYTES = 64
};

typedef enum n47sim_operation {
  N47SIM_OPEN_DAQ_DEVICE = 1,
  N47SIM_CLOSE_DAQ_DEVICE,
  N47SIM_LVDS_INIT,
  N47SIM_LVDS_SET_MODEL,
  N47SIM_LVDS_START,
  N47SIM_LVDS_CHECK,
  N47SIM_LVDS_GET_FRAME,
  N47SIM_LVDS_CLOSE,
  N47SIM_UART_INIT,
  N47SIM_UART_GET_DATA,
  N47SIM_UART_CLOSE
} n47sim_operation;

/* One grabber call as it arrived. */
typedef struct n47sim_call {
  int operation;            /* n47sim_operation */
  int32_t argument;         /* LVDS_SetModel: the model; LVDS_GetFrame / UART_GetData: the
                               count or length the pointer held on entry; else 0 */
  const void* destination;  /* LVDS_GetFrame / UART_GetData: the destination; else null */
  int destination_zeroed;   /* UART_GetData: 1 when its first 64 bytes were all zero on entry */
  int result;               /* what the simulator returned */
} n47sim_call;

/* Back to the power-on state: empty log and queues, no script, OpenDAQDevice answers 1,
   LVDS_Check runs the ordinary handshake, frames come from the default source (all 0). */
N47SIM_API void n47sim_reset(void);

/* What OpenDAQDevice returns (-1 tells the driver the device did not open). */
N47SIM_API void n47sim_set_open_result(int result);

/* Queues results for the next LVDS_Check calls. When the queue is empty, LVDS_Check runs
   the handshake: after each LVDS_Start it answers 0 once, then 1. */
N47SIM_API void n47sim_script_check(const int* results, size_t count);
/* With held = 1, every LVDS_Check with an empty script answers `value` (a device that never
   signals); held = 0 returns to the handshake. */
N47SIM_API void n47sim_hold_check(int held, int value);

/* The frame LVDS_GetFrame copies: `count` pixels (at most one frame; the rest are 0). */
N47SIM_API void n47sim_set_frame(const uint16_t* pixels, size_t count);
/* A function that produces each frame instead (null: back to the fixed frame). */
typedef void (*n47sim_frame_source)(uint16_t* frame, size_t pixels, void* context);
N47SIM_API void n47sim_set_frame_source(n47sim_frame_source source, void* context);
/* Number of frames LVDS_GetFrame delivered since the last reset. */
N47SIM_API size_t n47sim_frames_delivered(void);

/* Queues one control message of up to 64 bytes for UART_GetData (shorter ones are sent as
   they are; nothing is sent while the queue is empty). */
N47SIM_API void n47sim_push_message(const uint8_t* bytes, size_t length);
N47SIM_API size_t n47sim_pending_messages(void);
/* A function that produces a message when the queue is empty; returns its length (0: none). */
typedef size_t (*n47sim_message_source)(uint8_t* message, size_t capacity, void* context);
N47SIM_API void n47sim_set_message_source(n47sim_message_source source, void* context);

/* The call log. Logging is on after a reset; long runs may switch it off. */
N47SIM_API void n47sim_set_logging(int enabled);
N47SIM_API void n47sim_clear_log(void);
N47SIM_API size_t n47sim_call_count(void);
/* Copies call `index` (0 = oldest) into *call; 0 when there is no such call. */
N47SIM_API int n47sim_get_call(size_t index, n47sim_call* call);
/* Name of an operation, as the grabber library spells it. */
N47SIM_API const char* n47sim_operation_name(int operation);

#ifdef __cplusplus
}
#endif

#endif
