"""Finding and loading the two shared libraries, with every prototype declared.

Where the libraries come from, the first of these that is given decides:

1. the ``library_dir`` argument,
2. the environment variable ``N47_LIBRARY_DIR``,
3. the folder the package was installed with: an install step writes ``n47/_install.py``
   holding ``LIBRARY_DIR``, a folder relative to that module's own folder (or absolute),
4. the system loader (``LD_LIBRARY_PATH``, the cache, the RUNPATH of the interpreter).

A folder that is given but lacks the libraries is an error naming it, never a quiet step
to the next source: a script told to use one build must not run against another.

The grabber is the ``USB_FRM01`` library of that folder unless the ``grabber`` argument or
else the environment variable ``N47_GRABBER`` names another (a device's own library, say).

A process holds one copy of each library, so the first load fixes the folder and the grabber
for the whole process; asking for others later is an error.

The C libraries are not thread-safe, and a process has one detector: every call into them
goes through the one lock of the process, ``lock``. An operation made of several calls holds
it throughout (it is re-entrant).
"""

import ctypes
import os
import sys
import threading

from ._errors import DetectorError

DRIVER = "Tavrin_N47_USB_REF"
GRABBER = "USB_FRM01"

lock = threading.RLock()
_loaded = None


def file_name(stem):
    if sys.platform == "win32":
        return stem + ".dll"
    if sys.platform == "darwin":
        return "lib" + stem + ".dylib"
    return "lib" + stem + ".so"


def _installed_folder():
    try:
        from . import _install  # written by an install step; absent in a source tree
    except ImportError:
        return None
    folder = getattr(_install, "LIBRARY_DIR", None)
    if folder is None:
        return None
    return os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(_install.__file__)), folder))


def chosen_folder(library_dir=None):
    """(folder, where it came from); folder None means the system loader."""
    if library_dir is not None:
        return os.fspath(library_dir), "the library_dir argument"
    env = os.environ.get("N47_LIBRARY_DIR")
    if env:
        return env, "N47_LIBRARY_DIR"
    installed = _installed_folder()
    if installed is not None:
        return installed, "the folder the package was installed with"
    return None, "the system loader"


def chosen_grabber(grabber=None):
    """(path, where it came from); path None means the grabber of the libraries' folder."""
    if grabber is not None:
        return os.fsdecode(os.fspath(grabber)), "the grabber argument"
    env = os.environ.get("N47_GRABBER")
    if env:
        return env, "N47_GRABBER"
    return None, None


def _library_in(folder, stem, source):
    path = os.path.join(folder, file_name(stem))
    if os.path.isfile(path):
        return path
    if not os.path.isdir(folder):
        raise DetectorError(f"{folder} (from {source}) is not a folder")
    raise DetectorError(f"{folder} (from {source}) holds no {file_name(stem)}")


class Libraries:
    """The loaded driver and grabber, their paths, and the state the process shares about them:
    the simulator's scene as last set, and the live views of the detector's image."""

    def __init__(self, folder, source, grabber=None, grabber_source=None):
        self.folder = folder
        self.source = source
        windows = sys.platform == "win32"
        if folder is None:
            grabber_path, driver_path = file_name(GRABBER), file_name(DRIVER)
        else:
            grabber_path = None if grabber else _library_in(folder, GRABBER, source)
            driver_path = _library_in(folder, DRIVER, source)
        if grabber:
            if not os.path.isfile(grabber):
                raise DetectorError(f"{grabber} (from {grabber_source}) is not a file; it names the grabber library")
            grabber_path = os.path.abspath(grabber)  # a bare name would send the loader searching
        self.grabber_source = grabber_source or source
        try:
            if windows and folder is not None:
                self._dll_folder = os.add_dll_directory(os.path.abspath(folder))
            # The grabber first, and globally: the driver's grabber imports then bind to it.
            grabber_library = ctypes.CDLL(grabber_path, mode=ctypes.RTLD_GLOBAL)
            loader = ctypes.WinDLL if windows else ctypes.CDLL
            driver_library = loader(driver_path)
        except OSError as error:
            raise DetectorError(f"cannot load the detector libraries (from {source}): {error}") from error
        self.grabber_path = grabber_path
        self.driver_path = driver_path
        self.driver = _Locked(driver_library, _DRIVER_PROTOTYPES)
        self.is_simulator = all(hasattr(grabber_library, name) for name in _SIMULATOR_PROTOTYPES)
        self.grabber = _Locked(grabber_library, _SIMULATOR_PROTOTYPES) if self.is_simulator else None
        self.scene = "dark"
        self.dose = 0.0
        self.live_views = 0      # arrays viewing the detector's image buffer
        self.free_pending = False  # a closed detector waits for them to go before it is freed
        self.series_running = False


class _Locked:
    """A library's declared functions, each called under the process's lock."""

    def __init__(self, library, prototypes):
        _declare(library, prototypes)
        for name in prototypes:
            setattr(self, name, _locked(getattr(library, name)))


def _locked(function):
    def call(*args):
        with lock:
            return function(*args)
    call.__name__ = function.__name__
    return call


def load(library_dir=None, grabber=None):
    global _loaded
    folder, source = chosen_folder(library_dir)
    grabber_path, grabber_source = chosen_grabber(grabber)
    with lock:
        if _loaded is None:
            _loaded = Libraries(folder, source, grabber_path, grabber_source)
        elif library_dir is not None and not _same_folder(_loaded.folder, folder):
            raise DetectorError(
                f"the detector libraries are already loaded from {_loaded.folder or 'the system loader'}; "
                f"a process cannot load a second copy from {folder}")
        elif grabber is not None and not _same_file(_loaded.grabber_path, grabber_path):
            raise DetectorError(
                f"the grabber library {_loaded.grabber_path} is already loaded; "
                f"a process cannot change it to {grabber_path}")
        return _loaded


def _same_folder(a, b):
    if a is None or b is None:
        return a is b
    return _same_file(a, b)


def _same_file(a, b):
    try:
        return os.path.samefile(a, b)
    except OSError:
        return os.path.abspath(a) == os.path.abspath(b)


class SimCall(ctypes.Structure):
    _fields_ = [("operation", ctypes.c_int), ("argument", ctypes.c_int32), ("destination", ctypes.c_void_p),
                ("destination_zeroed", ctypes.c_int), ("result", ctypes.c_int)]


class ModelParams(ctypes.Structure):
    _fields_ = [("seed", ctypes.c_uint32), ("dark_offset", ctypes.c_double), ("dark_spread", ctypes.c_double),
                ("prnu", ctypes.c_double), ("shading", ctypes.c_double), ("read_noise", ctypes.c_double),
                ("quantum_gain", ctypes.c_double), ("impulse_rate", ctypes.c_double),
                ("dead_pixels", ctypes.c_int), ("hot_pixels", ctypes.c_int), ("noisy_pixels", ctypes.c_int),
                ("clusters", ctypes.c_int), ("dead_rows", ctypes.c_int), ("bright_columns", ctypes.c_int),
                ("band_lines", ctypes.c_int)]


class ModelRange(ctypes.Structure):
    _fields_ = [("name", ctypes.c_char_p), ("low", ctypes.c_double), ("high", ctypes.c_double)]


_int, _ptr, _str, _size = ctypes.c_int, ctypes.c_void_p, ctypes.c_char_p, ctypes.c_size_t

# Every result and argument declared: an undeclared pointer result is cut to 32 bits.
_DRIVER_PROTOTYPES = {
    "Sys_Free": (_int, []),
    "CheckSwitch": (_int, []),
    "Ready_Time_Chk": (_int, []),
    "RunforDetector": (_int, [_int]),
    "LoadPixelMap": (_int, [_str]),
    "LoadGainMap": (_int, [_str]),
    "SaveRawImage": (_ptr, []),
    "Sys_Allocation_N47": (_int, []),
    "CheckInterface": (_int, []),
    "GetTemperature": (_int, []),
    "GetSwitchMsg": (_int, [_int]),
    "Init_Comm": (_int, []),
    "GetMsgLength": (_int, []),
    "SavePixelMap": (_int, [_str]),
    "SaveGainMap": (_int, [_str]),
    "Map_Calibration": (_int, [_ptr, _int, _int]),
    "GetImagePtr": (_ptr, []),
    "CalibrationMode": (_int, [_int]),
}

_SIMULATOR_PROTOTYPES = {
    "n47sim_reset": (None, []),
    "n47sim_set_open_result": (None, [_int]),
    "n47sim_script_check": (None, [_ptr, _size]),
    "n47sim_hold_check": (None, [_int, _int]),
    "n47sim_frames_delivered": (_size, []),
    "n47sim_push_message": (None, [_ptr, _size]),
    "n47sim_pending_messages": (_size, []),
    "n47sim_set_logging": (None, [_int]),
    "n47sim_clear_log": (None, []),
    "n47sim_call_count": (_size, []),
    "n47sim_get_call": (_int, [_size, ctypes.POINTER(SimCall)]),
    "n47sim_operation_name": (_str, [_int]),
    "n47sim_model_default_params": (None, [ctypes.POINTER(ModelParams), ctypes.c_uint32]),
    "n47sim_model_ranges": (ctypes.POINTER(ModelRange), [ctypes.POINTER(_size)]),
    "n47sim_model_start": (_int, [ctypes.POINTER(ModelParams)]),
    "n47sim_model_set_scene": (None, [_int, ctypes.c_double]),
    "n47sim_model_render": (None, [_ptr]),
    "n47sim_model_ideal": (None, [_ptr]),
    "n47sim_model_defects": (_size, [_ptr, _size]),
    "n47sim_play_raw_file": (_int, [_str]),
    "n47sim_model_temperature": (_int, []),
    "n47sim_last_frame": (None, [_ptr]),
}


def _declare(library, prototypes):
    for name, (restype, argtypes) in prototypes.items():
        function = getattr(library, name)
        function.restype = restype
        function.argtypes = argtypes


def encode_path(path):
    """A path as the libraries' char* wants it (the ANSI code page on Windows)."""
    text = os.fspath(path)
    if isinstance(text, bytes):
        encoded = text
    elif sys.platform == "win32":
        encoded = text.encode("mbcs")
    else:
        encoded = os.fsencode(text)
    if b"\0" in encoded:
        raise ValueError(f"{path!r}: a path cannot hold a NUL character")
    return encoded
