// The eleven operations of the USB_FRM01 frame-grabber library, the detector's only way to
// the hardware. They are imported from the separate USB_FRM01 shared library at load time
// (never linked in statically), so any library exporting these names can stand in for it.
// Results are int; the driver examines only OpenDAQDevice (-1: not opened) and LVDS_Check
// (zero or non-zero).
#ifndef N47_GRABBER_USB_FRM01_H
#define N47_GRABBER_USB_FRM01_H

#include <stdint.h>

#if defined(_M_IX86) || defined(__i386__)
#  if defined(_MSC_VER)
#    define USB_FRM01_CALL __cdecl
#  else
#    define USB_FRM01_CALL __attribute__((__cdecl__))
#  endif
#else
#  define USB_FRM01_CALL
#endif

#if defined(_WIN32)
#  if defined(USB_FRM01_BUILDING)
#    define USB_FRM01_API __declspec(dllexport)
#  else
#    define USB_FRM01_API __declspec(dllimport)
#  endif
#elif defined(__GNUC__)
#  define USB_FRM01_API __attribute__((__visibility__("default")))
#else
#  define USB_FRM01_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

USB_FRM01_API int USB_FRM01_CALL OpenDAQDevice(void);
USB_FRM01_API int USB_FRM01_CALL CloseDAQDevice(void);

/* Image channel. */
USB_FRM01_API int USB_FRM01_CALL LVDS_Init(void);
USB_FRM01_API int USB_FRM01_CALL LVDS_SetModel(int32_t model);
USB_FRM01_API int USB_FRM01_CALL LVDS_Start(void);
USB_FRM01_API int USB_FRM01_CALL LVDS_Check(void);
/* byteCount holds 6,291,456 on the call; one frame is placed at destination. */
USB_FRM01_API int USB_FRM01_CALL LVDS_GetFrame(int32_t* byteCount, uint16_t* destination);
USB_FRM01_API int USB_FRM01_CALL LVDS_Close(void);

/* Control channel. length holds 64 on the call; one message is placed at destination. */
USB_FRM01_API int USB_FRM01_CALL UART_Init(void);
USB_FRM01_API int USB_FRM01_CALL UART_GetData(int32_t* length, uint8_t* destination);
USB_FRM01_API int USB_FRM01_CALL UART_Close(void);

#ifdef __cplusplus
}
#endif

#endif
