"""The Tavrin N47 detector, its map files and the simulated detector, as numpy arrays.

    import n47
    with n47.Detector() as detector:
        frame = detector.acquire()   # (1536, 2048) uint16, corrected

The package loads the driver library and the grabber library beside it with ctypes; see
``n47._library`` for where it looks. ``n47.nexus`` reads and writes NeXus/HDF5 files when
h5py is installed.
"""

from . import frames, maps, nexus
from ._errors import CaptureTimeout, DetectorError
from .detector import Detector
from .simulator import Call, DefectKind, Simulator

__version__ = "1.0.0"

__all__ = ["CaptureTimeout", "Call", "DefectKind", "Detector", "DetectorError", "Simulator", "frames", "maps", "nexus"]
