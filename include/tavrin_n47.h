/*
 * Tavrin N47 flat-panel detector driver: the library's whole public interface.
 *
 * Version 1.0. Eighteen functions with C linkage, exported under their undecorated names
 * (fixed ordinals on Windows). On 32-bit x86 they use the standard calling convention
 * (stdcall: the callee removes its arguments); elsewhere the platform's default.
 *
 * One detector object exists at a time. Sys_Allocation_N47 creates it (and opens the device
 * through the USB_FRM01 grabber library); Sys_Free destroys it. While no object exists, every
 * other function returns the fixed value given in its comment and does nothing else.
 * All functions run on the caller's thread; call them one at a time.
 * The library is not thread-safe: a call while another thread is inside any function (for
 * example Sys_Free during an acquisition) is undefined.
 *
 * Geometry: frames are 2048 x 1536 unsigned 16-bit pixels, row-major, 14-bit range.
 */
#ifndef TAVRIN_N47_H
#define TAVRIN_N47_H

#if defined(_M_IX86) || defined(__i386__)
#  if defined(_MSC_VER)
#    define N47_CALL __stdcall
#  else
#    define N47_CALL __attribute__((__stdcall__))
#  endif
#else
#  define N47_CALL
#endif

/* Windows exports come from the module definition file alone; ELF exports need default
   visibility (the library builds with hidden visibility and a version script). */
#if !defined(_WIN32) && defined(__GNUC__)
#  define N47_API __attribute__((__visibility__("default")))
#else
#  define N47_API
#endif

#define N47_FRAME_WIDTH 2048
#define N47_FRAME_HEIGHT 1536

/* The library's version; equal to the version of the build's project. */
#define N47_VERSION_MAJOR 1
#define N47_VERSION_MINOR 0
#define N47_VERSION_PATCH 0
#define N47_VERSION_STRING "1.0.0"

#ifdef __cplusplus
extern "C" {
#endif

/* @1  Destroys the detector: buffers released, then the device closed. 1; -1 if none. */
N47_API int N47_CALL Sys_Free(void);

/* @2  Reads the next 64-byte control message (after a 1 ms sleep). 1; -1 if none. */
N47_API int N47_CALL CheckSwitch(void);

/* @3  Counts one ready-time tick; the fifth since the count was zeroed ends the ready state.
       1, or 0 when this call ended an active ready state; 0 if no detector. */
N47_API int N47_CALL Ready_Time_Chk(void);

/* @4  Command 1 = ready, 2 = acquire (capture and correct a frame), 3 = stop.
       1 or 0 as the command succeeded; other commands give 0. No detector: the command. */
N47_API int N47_CALL RunforDetector(int command);

/* @5  Loads a pixel-map file (3,149,313 bytes) into the active pixel map.
       1 on success; 0 when the file cannot be read, is not an ordinary file (a FIFO or a
       device is refused without waiting) or has the wrong size (map unchanged).
       0 if no detector. */
N47_API int N47_CALL LoadPixelMap(const char* path);

/* @6  Loads a gain-map file (12,582,912 bytes of little-endian floats) into the active gain
       map. 1 on success; 0 on failure (map unchanged). 0 if no detector. */
N47_API int N47_CALL LoadGainMap(const char* path);

/* @7  Same as GetImagePtr; saves nothing. Null if no detector. */
N47_API unsigned short* N47_CALL SaveRawImage(void);

/* @8  Creates the detector and opens the device. 1 when created (also when the device did
       not open: see CheckInterface); 0 when memory ran out (nothing is kept);
       -1 when a detector already exists. */
N47_API int N47_CALL Sys_Allocation_N47(void);

/* @9  1 when the device opened at creation, else 0; -1 if no detector. */
N47_API int N47_CALL CheckInterface(void);

/* @10 Last temperature decoded from a control message (degrees); -1 if no detector. */
N47_API int N47_CALL GetTemperature(void);

/* @11 Decodes byte `index` (0 to 63) of the last message: switch code 1, 2, 3, or 0.
       A temperature frame at that index updates the temperature. 0 if no detector or the
       index is out of range. */
N47_API int N47_CALL GetSwitchMsg(int index);

/* @12 Drains the control channel: 100 messages, every byte decoded. 1; -1 if no detector. */
N47_API int N47_CALL Init_Comm(void);

/* @13 Control-message length, 64; -1 if no detector. */
N47_API int N47_CALL GetMsgLength(void);

/* @14 Saves the calibrated pixel map. Written to a uniquely named temporary file beside the
       target, flushed to the device and renamed over the target, so a failed save, a second
       process saving the same file or a power cut leaves an existing file intact. A target
       that exists but is not an ordinary file (a device, FIFO, socket or folder) is refused;
       through a link, the file it points to is replaced. An existing file keeps its
       permissions. 1 on success, 0 on failure; -1 if no detector. */
N47_API int N47_CALL SavePixelMap(const char* path);

/* @15 Saves the calibrated gain map, as SavePixelMap. 1, 0, or -1 if no detector. */
N47_API int N47_CALL SaveGainMap(const char* path);

/* @16 One step of a calibration series of `count` flat frames (index 0 .. count-1). The
       frame's interior is rewritten to show its outliers (5000) and the rest (0).
       1; 0 for a null frame or a count outside 1 .. 65537 (nothing touched);
       -1 if no detector. */
N47_API int N47_CALL Map_Calibration(unsigned short* frame, int index, int count);

/* @17 Address of the corrected image inside the library (valid until Sys_Free; the next
       acquisition overwrites it). Null if no detector. */
N47_API unsigned short* N47_CALL GetImagePtr(void);

/* @18 Mode 1 = calibration mode (no gain correction, no border mask), 0 = normal mode.
       Returns the mode set; any other value changes nothing and is returned as it is.
       -1 if no detector. */
N47_API int N47_CALL CalibrationMode(int mode);

#ifdef __cplusplus
}
#endif

#endif /* TAVRIN_N47_H */
