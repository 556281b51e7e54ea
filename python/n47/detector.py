"""The detector: one object of the driver library, created on entry and freed on exit."""

import ctypes
import os
import stat

import numpy as np

from . import _library
from ._errors import CaptureTimeout, DetectorError
from .frames import SHAPE as FRAME_SHAPE
from .maps import GAIN_MAP_BYTES, PIXEL_MAP_BYTES

_READY, _ACQUIRE = 1, 2
_MAX_SERIES = 65537  # the library's bound: longer series could overflow its 32-bit sums
_FRAME_PIXELS = FRAME_SHAPE[0] * FRAME_SHAPE[1]


def _why_unloadable(path, what, size):
    """Why the library refused a map file, found without opening the file."""
    try:
        status = os.stat(path)
    except OSError as error:
        return f"{path}: {error.strerror}"
    if not stat.S_ISREG(status.st_mode):
        return f"{path}: not a regular file, so not {what}"
    if status.st_size != size:
        return f"{path}: {status.st_size:,} bytes; {what} has exactly {size:,}"
    if not os.access(path, os.R_OK):
        return f"{path}: cannot be read (permission denied)"
    return f"{path}: could not be read as {what}"


def _why_unsavable(path, what):
    folder = os.path.dirname(os.path.abspath(path))
    target = os.path.realpath(path)
    if os.path.islink(path) and not os.path.exists(path):
        return f"{path}: a link to nothing; {what} is not saved through it"
    if os.path.lexists(target) and not os.path.isfile(target):
        return f"{path}: exists and is not a regular file; {what} cannot replace it"
    if not os.path.isdir(folder):
        return f"{path}: the folder {folder} does not exist"
    if not os.access(folder, os.W_OK):
        return f"{path}: no permission to write in {folder}"
    return f"{path}: {what} could not be written (the disk may be full or the file system refused)"


class Detector:
    """The one detector object of this process.

    ``with Detector() as detector:`` creates it (``Sys_Allocation_N47``) and frees it at the
    end (``Sys_Free``); ``open()`` and ``close()`` do the same by hand.
    """

    def __init__(self, library_dir=None):
        self._libraries = _library.load(library_dir)
        self._lib = self._libraries.driver
        self._open = False
        self._calibration_mode = False

    # Lifecycle

    def open(self):
        if self._open:
            raise DetectorError("this detector is already open")
        result = self._lib.Sys_Allocation_N47()
        if result == -1:
            raise DetectorError("a detector already exists in this process")
        if result != 1:
            raise DetectorError("the detector could not be created: memory ran out")
        self._open = True
        self._calibration_mode = False
        return self

    def close(self):
        """Frees the detector; views from ``image`` must not be used afterwards."""
        if self._open:
            self._open = False
            self._lib.Sys_Free()

    def __enter__(self):
        return self.open()

    def __exit__(self, *exc):
        self.close()

    def __del__(self):
        try:
            self.close()
        except Exception:
            pass

    @property
    def is_open(self):
        return self._open

    def _library_ready(self):
        if not self._open:
            raise DetectorError("the detector is not open (use it inside `with Detector() as ...`)")
        return self._lib

    # Device and control messages

    @property
    def connected(self):
        """Whether the device opened when the detector was created."""
        return self._library_ready().CheckInterface() == 1

    def drain_messages(self):
        """Reads and decodes the control channel's next 100 messages (the temperature follows)."""
        self._library_ready().Init_Comm()

    def poll_message(self):
        """The switch codes (1, 2, 3) in the next control message, in byte order; [] when none."""
        lib = self._library_ready()
        lib.CheckSwitch()
        codes = (lib.GetSwitchMsg(index) for index in range(lib.GetMsgLength()))
        return [code for code in codes if code != 0]

    @property
    def temperature(self):
        """The last temperature a control message carried, degrees."""
        return self._library_ready().GetTemperature()

    # Acquisition

    @property
    def calibration_mode(self):
        """True: frames are corrected without gain and border mask, as a calibration wants them."""
        self._library_ready()
        return self._calibration_mode

    @calibration_mode.setter
    def calibration_mode(self, on):
        self._library_ready().CalibrationMode(1 if on else 0)
        self._calibration_mode = bool(on)

    def acquire(self):
        """Captures and corrects one frame; a (1536, 2048) uint16 copy of it.

        Raises CaptureTimeout when the device delivered no frame within the library's time-out.
        """
        lib = self._library_ready()
        lib.RunforDetector(_READY)  # refused only when already ready, which serves as well
        if lib.RunforDetector(_ACQUIRE) != 1:
            raise CaptureTimeout("no frame came from the detector within the capture time-out")
        return self._image_view().copy()

    @property
    def image(self):
        """The library's own image buffer, read-only, without a copy.

        The next acquisition overwrites it, and it is freed with the detector: keep a copy
        (``acquire()`` returns one) of anything needed later.
        """
        return self._image_view()

    def _image_view(self):
        address = self._library_ready().GetImagePtr()
        if not address:
            raise DetectorError("the library gave no image buffer")
        buffer = (ctypes.c_uint16 * _FRAME_PIXELS).from_address(address)
        buffer._detector = self  # the detector cannot be collected, and freed, under a view
        view = np.ctypeslib.as_array(buffer).reshape(FRAME_SHAPE)
        view.flags.writeable = False
        return view

    # Calibration

    def calibrate(self, frames):
        """Runs a calibration series, one library step per frame, over (1536, 2048) uint16 frames.

        The caller's frames stay as they are: each step works on a copy, which the library
        rewrites into a picture of that frame's outliers (5000) and the rest (0). Returns those
        pictures as one (count, 1536, 2048) uint16 array. The new maps are saved with
        ``save_pixel_map`` and ``save_gain_map``.
        """
        frames = list(frames) if not isinstance(frames, np.ndarray) else frames
        count = len(frames)
        if not 1 <= count <= _MAX_SERIES:
            raise ValueError(f"a calibration series has 1 to {_MAX_SERIES} frames, not {count}")
        for index, frame in enumerate(frames):
            if not isinstance(frame, np.ndarray) or frame.dtype != np.uint16 or frame.shape != FRAME_SHAPE:
                got = f"{frame.dtype} {frame.shape}" if isinstance(frame, np.ndarray) else type(frame).__name__
                raise ValueError(f"calibration frame {index} must be a uint16 array of shape {FRAME_SHAPE}, not {got}")
        lib = self._library_ready()
        pictures = np.empty((count,) + FRAME_SHAPE, np.uint16)
        for index, frame in enumerate(frames):
            pictures[index] = frame
            if lib.Map_Calibration(pictures[index].ctypes.data, index, count) != 1:
                raise DetectorError(f"the library refused calibration step {index} of {count}")
        return pictures

    # Map files

    def load_pixel_map(self, path):
        """Makes a pixel-map file the active pixel map; on failure the active map is unchanged."""
        if self._library_ready().LoadPixelMap(_library.encode_path(path)) != 1:
            raise DetectorError(_why_unloadable(os.fspath(path), "a pixel map", PIXEL_MAP_BYTES))

    def load_gain_map(self, path):
        """Makes a gain-map file the active gain map; on failure the active map is unchanged."""
        if self._library_ready().LoadGainMap(_library.encode_path(path)) != 1:
            raise DetectorError(_why_unloadable(os.fspath(path), "a gain map", GAIN_MAP_BYTES))

    def save_pixel_map(self, path):
        """Saves the pixel map of the last calibration; an existing file is replaced in one step."""
        if self._library_ready().SavePixelMap(_library.encode_path(path)) != 1:
            raise DetectorError(_why_unsavable(os.fspath(path), "the pixel map"))

    def save_gain_map(self, path):
        """Saves the gain map of the last calibration; an existing file is replaced in one step."""
        if self._library_ready().SaveGainMap(_library.encode_path(path)) != 1:
            raise DetectorError(_why_unsavable(os.fspath(path), "the gain map"))
