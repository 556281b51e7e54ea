"""The simulated detector behind the grabber simulator, in this process.

It scripts what the grabber answers the driver, and its physical model renders dark frames,
flats and a test phantom with the model's ground truth (the ideal image, the defects).
"""

import collections
import ctypes
import enum
import math
import numbers
import operator
import os

import numpy as np

from . import _files, _library
from ._errors import DetectorError
from .frames import FRAME_BYTES, SHAPE as FRAME_SHAPE

SCENES = {"dark": 0, "flat": 1, "phantom": 2}
MESSAGE_BYTES = 64


class DefectKind(enum.IntEnum):
    DEAD = 1     # reads 0
    HOT = 2      # reads 16383
    NOISY = 3    # large extra noise
    CLUSTER = 4  # part of a small cluster of hot pixels
    ROW = 5      # part of a dead row or of the band of weak rows (column -1)
    COLUMN = 6   # part of a bright column (row -1)


DEFECT_DTYPE = np.dtype([("kind", np.int32), ("row", np.int32), ("column", np.int32)])

Call = collections.namedtuple("Call", "operation name argument destination destination_zeroed result")
Call.__doc__ = """One grabber call as the simulator received it (see n47sim/sim_control.h)."""

MODEL_PARAMETERS = tuple(name for name, _ in _library.ModelParams._fields_ if name != "seed")


class Simulator:
    """Control of the grabber simulator and its model; all instances share the one simulator."""

    def __init__(self, library_dir=None):
        self._libraries = _library.load(library_dir)
        if not self._libraries.is_simulator:
            raise DetectorError(
                f"the grabber library {self._libraries.grabber_path} (from {self._libraries.grabber_source}) is not "
                f"the simulator: it has none of the simulator's n47sim_ controls")
        self._lib = self._libraries.grabber

    def reset(self):
        """The power-on state: empty log and queues, the handshake, all-zero frames, no model in charge."""
        self._lib.n47sim_reset()

    def set_open_result(self, result):
        """What the device open answers the driver at creation (-1: the device did not open)."""
        self._lib.n47sim_set_open_result(int(result))

    # The model

    def start_model(self, seed=47, **params):
        """Builds the panel from the model's defaults for `seed` with `params` changed, by their C names.

        The model then renders every frame and every control message. Returns all parameters used.
        A value outside the parameter's range (``model_ranges()``) raises ValueError and the
        previous model stays.
        """
        chosen = _library.ModelParams()
        self._lib.n47sim_model_default_params(ctypes.byref(chosen), _uint32(seed, "seed"))
        ranges = self.model_ranges()
        for name, value in params.items():
            if name not in MODEL_PARAMETERS:
                raise TypeError(f"unknown model parameter {name!r}; the parameters are {', '.join(MODEL_PARAMETERS)}")
            integral = isinstance(getattr(chosen, name), int)
            setattr(chosen, name, _in_range(name, value, *ranges[name], integral))
        with _library.lock:
            if self._lib.n47sim_model_start(ctypes.byref(chosen)) != 1:
                raise ValueError("the simulator refused the model's parameters")
            self._libraries.scene, self._libraries.dose = "dark", 0.0
        return {name: getattr(chosen, name) for name, _ in chosen._fields_}

    def model_ranges(self):
        """{parameter: (low, high)}: each model parameter's range, both ends included."""
        count = ctypes.c_size_t()
        ranges = self._lib.n47sim_model_ranges(ctypes.byref(count))
        kinds = dict(_library.ModelParams._fields_)
        result = {}
        for i in range(count.value):
            name = ranges[i].name.decode("ascii")
            kind = int if kinds[name] is ctypes.c_int else float
            result[name] = (kind(ranges[i].low), kind(ranges[i].high))
        return result

    @property
    def scene(self):
        """The scene of the next frames: "dark", "flat" or "phantom"."""
        return self._libraries.scene

    @scene.setter
    def scene(self, name):
        if name not in SCENES:
            raise ValueError(f"unknown scene {name!r}; the scenes are {', '.join(SCENES)}")
        with _library.lock:
            self._lib.n47sim_model_set_scene(SCENES[name], self._libraries.dose)
            self._libraries.scene = name

    @property
    def dose(self):
        """Signal above the dark level at unit gain, counts."""
        return self._libraries.dose

    @dose.setter
    def dose(self, counts):
        counts = float(counts)
        if not math.isfinite(counts) or counts < 0:
            raise ValueError(f"a dose is a finite number of counts, 0 or more, not {counts}")
        with _library.lock:
            self._lib.n47sim_model_set_scene(SCENES[self._libraries.scene], counts)
            self._libraries.dose = counts

    def render(self):
        """A frame of the current scene with fresh noise, as the grabber would deliver it next."""
        return self._frame(self._lib.n47sim_model_render)

    def ideal(self):
        """The noise-free image of the current scene, as a perfect correction would show it."""
        return self._frame(self._lib.n47sim_model_ideal)

    def last_frame(self):
        """The last frame the grabber delivered to the driver, before correction."""
        return self._frame(self._lib.n47sim_last_frame)

    def _frame(self, function):
        frame = np.empty(FRAME_SHAPE, np.uint16)
        function(frame.ctypes.data)
        return frame

    def defects(self):
        """The panel's defects: a structured array with the fields kind, row and column."""
        with _library.lock:
            count = self._lib.n47sim_model_defects(None, 0)
            defects = np.zeros(count, DEFECT_DTYPE)
            if count:
                self._lib.n47sim_model_defects(defects.ctypes.data, count)
        return defects

    @property
    def temperature(self):
        """The temperature the panel reports now, degrees."""
        return self._lib.n47sim_model_temperature()

    def play_raw(self, path):
        """Delivers the frame in a raw file for every later capture."""
        # Checked here first: the simulator opens the file as it is and would wait on a FIFO.
        _files.read_into(path, bytearray(FRAME_BYTES), "a raw frame")
        if self._lib.n47sim_play_raw_file(_library.encode_path(path)) != 1:
            raise DetectorError(f"{os.fsdecode(os.fspath(path))}: the simulator could not read it whole")

    # The grabber's answers

    def hold_check(self, value):
        """Every frame-status check answers `value`, as a device that never finishes a frame."""
        self._lib.n47sim_hold_check(1, int(value))

    def release_check(self):
        self._lib.n47sim_hold_check(0, 0)

    def script_check(self, results):
        """Queues answers for the next frame-status checks, before the handshake resumes."""
        values = (ctypes.c_int * len(results))(*results)
        self._lib.n47sim_script_check(values, len(results))

    def push_message(self, data):
        """Queues one control message of up to 64 bytes."""
        data = bytes(data)
        if len(data) > MESSAGE_BYTES:
            raise ValueError(f"a control message has at most {MESSAGE_BYTES} bytes, not {len(data)}")
        self._lib.n47sim_push_message(data, len(data))

    @property
    def pending_messages(self):
        return self._lib.n47sim_pending_messages()

    @property
    def frames_delivered(self):
        return self._lib.n47sim_frames_delivered()

    # The call log

    def set_logging(self, enabled):
        """Logging is on after a reset; long runs may switch it off (the log only grows)."""
        self._lib.n47sim_set_logging(1 if enabled else 0)

    def clear_calls(self):
        self._lib.n47sim_clear_log()

    def calls(self):
        """The log of grabber calls, oldest first, as named tuples (Call)."""
        record = _library.SimCall()
        calls = []
        with _library.lock:
            for index in range(self._lib.n47sim_call_count()):
                if not self._lib.n47sim_get_call(index, ctypes.byref(record)):
                    break
                name = self._lib.n47sim_operation_name(record.operation)
                calls.append(Call(record.operation, name.decode("ascii") if name else None, record.argument,
                                  record.destination, record.destination_zeroed, record.result))
        return calls


def _in_range(name, value, low, high, integral):
    if integral:
        try:
            number = operator.index(value)
        except TypeError:
            raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    elif isinstance(value, numbers.Real):
        number = float(value)
    else:
        raise TypeError(f"{name} must be a number, not {type(value).__name__}")
    if not low <= number <= high:  # NaN too
        raise ValueError(f"{name} must lie between {low:g} and {high:g}, not {value!r}")
    return number


def _uint32(value, name):
    value = int(value)
    if not 0 <= value < 2**32:
        raise ValueError(f"{name} must lie between 0 and 2**32 - 1, not {value}")
    return value
