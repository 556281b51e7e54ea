"""The detector: one object of the driver library, created on entry and freed on exit."""

import collections.abc
import ctypes
import gc
import os
import stat
import weakref

import numpy as np

from . import _files, _library
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


def _why_unsavable(path, what, size):
    folder = os.path.dirname(os.path.abspath(path))
    target = os.path.realpath(path)
    if os.path.islink(path) and not os.path.exists(path):
        return f"{path}: a link to nothing; {what} is not saved through it"
    if os.path.lexists(target) and not os.path.isfile(target):
        return f"{path}: exists and is not a regular file; {what} cannot replace it"
    if not os.path.isdir(folder):
        return f"{path}: the folder {folder} does not exist"
    reason = _files.why_unwritable(path, size)
    if reason is not None:
        return f"{path}: {what} cannot be written: {reason}"
    return f"{path}: the library could not write {what}, although a file of its size can be made there"


class Detector:
    """The one detector object of this process.

    ``with Detector() as detector:`` creates it (``Sys_Allocation_N47``) and frees it at the
    end (``Sys_Free``); ``open()`` and ``close()`` do the same by hand.

    Every method may be called from any thread: each holds the process's lock for all its
    library calls, so a capture, a step or a save runs whole. ``close()`` waits for the one in
    progress. Views from ``image`` keep the image buffer alive: the library frees a closed
    detector once the last of them is gone.
    """

    def __init__(self, library_dir=None, grabber=None):
        self._libraries = _library.load(library_dir, grabber)
        self._lib = self._libraries.driver
        self._open = False
        self._calibration_mode = False
        self._calibrated = False

    # Lifecycle

    def open(self):
        libraries = self._libraries
        with _library.lock:
            if self._open:
                raise DetectorError("this detector is already open")
            if libraries.free_pending:
                gc.collect()  # views held only by reference cycles go now
            if libraries.free_pending:
                raise DetectorError(
                    f"the previous detector is freed only when the last view of its image is gone "
                    f"(views left: {libraries.live_views}; delete them, keeping copies of what is needed)")
            result = self._lib.Sys_Allocation_N47()
            if result == -1:
                raise DetectorError("a detector already exists in this process")
            if result != 1:
                raise DetectorError("the detector could not be created: memory ran out")
            self._open = True
            self._calibration_mode = False
            self._calibrated = False
        return self

    def close(self):
        """Ends the use of the detector, after a capture or step in progress in another thread.

        The library frees it at once, or, while views from ``image`` exist, when the last goes.
        """
        with _library.lock:
            if not self._open:
                return
            self._open = False
            libraries = self._libraries
            if libraries.live_views:
                gc.collect()
            if libraries.live_views:
                libraries.free_pending = True
            else:
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
        with _library.lock:
            return self._library_ready().CheckInterface() == 1

    def drain_messages(self):
        """Reads and decodes the control channel's next 100 messages (the temperature follows)."""
        with _library.lock:
            self._library_ready().Init_Comm()

    def poll_message(self):
        """The switch codes (1, 2, 3) in the next control message, in byte order; [] when none."""
        with _library.lock:
            lib = self._library_ready()
            lib.CheckSwitch()
            codes = [lib.GetSwitchMsg(index) for index in range(lib.GetMsgLength())]
        return [code for code in codes if code != 0]

    @property
    def temperature(self):
        """The last temperature a control message carried, degrees."""
        with _library.lock:
            return self._library_ready().GetTemperature()

    # Acquisition

    @property
    def calibration_mode(self):
        """True: frames are corrected without gain and border mask, as a calibration wants them."""
        with _library.lock:
            self._library_ready()
            return self._calibration_mode

    @calibration_mode.setter
    def calibration_mode(self, on):
        with _library.lock:
            self._library_ready().CalibrationMode(1 if on else 0)
            self._calibration_mode = bool(on)

    def acquire(self):
        """Captures and corrects one frame; a (1536, 2048) uint16 copy of it.

        Raises CaptureTimeout when the device delivered no frame within the library's time-out,
        and DetectorError when the device did not open (``connected`` is False).
        """
        with _library.lock:
            lib = self._library_ready()
            if lib.CheckInterface() != 1:
                raise DetectorError("the device did not open when the detector was created (connected is "
                                    "False): there is no frame to capture")
            lib.RunforDetector(_READY)  # refused only when already ready, which serves as well
            if lib.RunforDetector(_ACQUIRE) != 1:
                raise CaptureTimeout("no frame came from the detector within the capture time-out")
            return _as_frame(self._buffer()).copy()

    @property
    def image(self):
        """The library's own image buffer, read-only, without a copy.

        The next acquisition overwrites it. The view, and any array made from it, keeps the
        buffer alive: after ``close()`` it shows the last image until it is gone.
        """
        with _library.lock:
            buffer = self._buffer()
            libraries = self._libraries
            libraries.live_views += 1
            weakref.finalize(buffer, _view_gone, libraries).atexit = False
        view = _as_frame(buffer)
        view.flags.writeable = False
        return view

    def _buffer(self):
        address = self._library_ready().GetImagePtr()
        if not address:
            raise DetectorError("the library gave no image buffer")
        return _ImageBuffer.from_address(address)

    # Calibration

    def calibrate(self, frames, pictures=True):
        """Runs a calibration series, one library step per frame, over (1536, 2048) uint16 frames.

        `frames` is any iterable, read one frame at a time (a generator keeps the series out
        of memory). The caller's frames stay as they are: each step works on a copy, which the
        library rewrites into a picture of that frame's outliers (5000) and the rest (0).
        Returns those pictures as one (count, 1536, 2048) uint16 array, or, with
        ``pictures=False``, only the count, in memory that does not grow with the series.
        The new maps are saved with ``save_pixel_map`` and ``save_gain_map``.
        """
        count = len(frames) if isinstance(frames, collections.abc.Sized) else None
        if count is not None:
            if not 1 <= count <= _MAX_SERIES:
                raise ValueError(f"a calibration series has 1 to {_MAX_SERIES} frames, not {count}")
            if isinstance(frames, collections.abc.Sequence):  # in memory already: checked before any step
                for index, frame in enumerate(frames):
                    _check_frame(frame, index)
        with _library.lock:
            self._library_ready()
            if self._libraries.series_running:
                raise DetectorError("a calibration series is running in another thread")
            self._libraries.series_running = True
            self._calibrated = False
        try:
            return self._run_series(iter(frames), count, pictures)
        finally:
            with _library.lock:
                self._libraries.series_running = False

    def _run_series(self, frames, count, pictures):
        kept = np.empty((count,) + FRAME_SHAPE, np.uint16) if pictures and count else []
        work = np.empty(FRAME_SHAPE, np.uint16)
        frame, index = next(frames, _END), 0
        if frame is _END:
            raise ValueError(f"a calibration series has 1 to {_MAX_SERIES} frames, not 0")
        while frame is not _END:
            _check_frame(frame, index)
            following = next(frames, _END) if count is None or index + 1 < count else _END
            if following is _END and count is not None and index + 1 != count:
                raise ValueError(f"the series gave {index + 1} frames, though its length is {count}")
            if following is not _END and index + 1 >= _MAX_SERIES:
                raise ValueError(f"a calibration series has 1 to {_MAX_SERIES} frames, not more")
            # Without a length, each step is told the series goes on until the last frame is
            # in hand: the library uses the count only to know the last step.
            steps = count if count is not None else index + (1 if following is _END else 2)
            step = kept[index] if pictures and count else work
            step[...] = frame
            with _library.lock:
                if self._library_ready().Map_Calibration(step.ctypes.data, index, steps) != 1:
                    raise DetectorError(f"the library refused calibration step {index} of {steps}")
            if pictures and not count:
                kept.append(step.copy())
            frame, index = following, index + 1
        self._calibrated = True
        if not pictures:
            return index
        return kept if count else np.stack(kept)

    # Map files

    def load_pixel_map(self, path):
        """Makes a pixel-map file the active pixel map; on failure the active map is unchanged."""
        self._load("LoadPixelMap", path, "a pixel map", PIXEL_MAP_BYTES)

    def load_gain_map(self, path):
        """Makes a gain-map file the active gain map; on failure the active map is unchanged."""
        self._load("LoadGainMap", path, "a gain map", GAIN_MAP_BYTES)

    def save_pixel_map(self, path):
        """Saves the pixel map of the last calibration; an existing file is replaced in one step.

        Refused until a calibration series has completed since the detector was opened.
        """
        self._save("SavePixelMap", path, "the pixel map", PIXEL_MAP_BYTES)

    def save_gain_map(self, path):
        """Saves the gain map of the last calibration; an existing file is replaced in one step.

        Refused until a calibration series has completed since the detector was opened.
        """
        self._save("SaveGainMap", path, "the gain map", GAIN_MAP_BYTES)

    def _load(self, function, path, what, size):
        text = _checked_path(path, what)
        with _library.lock:
            if getattr(self._library_ready(), function)(_library.encode_path(path)) != 1:
                raise DetectorError(_why_unloadable(text, what, size))

    def _save(self, function, path, what, size):
        text = _checked_path(path, what)
        with _library.lock:
            lib = self._library_ready()
            if not self._calibrated:
                raise DetectorError(f"{text}: no calibration series has completed since the detector was opened, "
                                    f"so {what} holds no calibration; run calibrate() first")
            if getattr(lib, function)(_library.encode_path(path)) != 1:
                raise DetectorError(_why_unsavable(text, what, size))


_ImageBuffer = ctypes.c_uint16 * _FRAME_PIXELS
_END = object()


def _as_frame(buffer):
    return np.ctypeslib.as_array(buffer).reshape(FRAME_SHAPE)


def _view_gone(libraries):
    """The last array made from one view of the image is gone; a closed detector waiting for
    its views is freed with the last of them."""
    with _library.lock:
        libraries.live_views -= 1
        if libraries.live_views == 0 and libraries.free_pending:
            libraries.free_pending = False
            libraries.driver.Sys_Free()


def _check_frame(frame, index):
    if not isinstance(frame, np.ndarray) or frame.dtype != np.uint16 or frame.shape != FRAME_SHAPE:
        got = f"{frame.dtype} {frame.shape}" if isinstance(frame, np.ndarray) else type(frame).__name__
        raise ValueError(f"calibration frame {index} must be a uint16 array of shape {FRAME_SHAPE}, not {got}")


def _checked_path(path, what):
    try:
        return _files.text_path(path, what)
    except ValueError as error:
        raise DetectorError(str(error)) from None
