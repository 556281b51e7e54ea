"""Frames and maps as NeXus/HDF5 files, in the layout the ``n47`` tool writes.

    n47.nexus.write("series.h5", frames, pixel_map=cells, gain_map=gains, compress="gzip")
    contents = n47.nexus.read("series.h5")   # contents.frames: (n, 1536, 2048) uint16

The frames are ``/entry/instrument/detector/data``, one frame a chunk, linked as the signal of
the default ``NXdata`` ``/entry/data``; a pixel map is stored as the NeXus ``pixel_mask``
(see `pixel_mask`), a gain map as ``flatfield``. Needs h5py (Debian ``python3-h5py``); the
rest of the package works without it.
"""

import dataclasses
import time

import numpy as np

from . import _files, maps
from .frames import HEIGHT, MAX_VALUE, SHAPE, WIDTH

# Bits of the pixel_mask. Readers that know only the NeXus bits see every pixel the map marks
# as dead (bit 1); the higher bits, which the NeXus convention leaves undefined, say why.
DEAD = 1 << 1
DEFECTIVE_CELL = 1 << 9  # the pixel's own cell is non-zero
CODE2 = 1 << 10          # ... and is 2 (the code-2 repair)
MARKED_ROW = 1 << 11     # its row's marker is non-zero
MARKED_COLUMN = 1 << 12  # its column's marker is non-zero

DETECTOR = "N47 flat-panel X-ray detector, 2048 x 1536 pixels, 14-bit readout"
_DETECTOR_PATH = "/entry/instrument/detector"


def _h5py():
    try:
        import h5py
    except ImportError as error:
        raise ImportError("n47.nexus needs h5py (Debian package python3-h5py); the rest of n47 works without it") \
            from error
    return h5py


def pixel_mask(cells):
    """The (1536, 2048) uint32 NeXus pixel_mask of a (1537, 2049) uint8 pixel map."""
    cells = _files.checked_array(cells, maps.PIXEL_MAP_SHAPE, np.uint8, "a pixel map")
    own = cells[:HEIGHT, :WIDTH]
    mask = np.where(own != 0, DEFECTIVE_CELL, 0).astype(np.uint32)
    mask |= np.where(own == maps.CODE2, CODE2, 0).astype(np.uint32)
    mask |= np.where(cells[:HEIGHT, maps.MARKER_COLUMN, None] != 0, MARKED_ROW, 0).astype(np.uint32)
    mask |= np.where(cells[maps.MARKER_ROW, None, :WIDTH] != 0, MARKED_COLUMN, 0).astype(np.uint32)
    mask[mask != 0] |= DEAD
    return mask


@dataclasses.dataclass
class Contents:
    """What `read` found; None where the file holds no such field."""
    frames: np.ndarray                 # (n, 1536, 2048) uint16
    description: str = ""
    temperature: np.ndarray = None     # (n,) float32, degrees Celsius
    pixel_mask: np.ndarray = None      # (1536, 2048) uint32
    flatfield: np.ndarray = None       # (1536, 2048) float32
    flatfield_applied: bool = None
    pixel_mask_applied: bool = None
    start_time: str = None
    end_time: str = None


def _utc_now():
    return time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime())


def _frames_of(frames):
    """Each frame of a (1536, 2048) or (n, 1536, 2048) uint16 array, or of an iterable of frames."""
    if isinstance(frames, np.ndarray) and frames.ndim != 3:
        frames = frames[None] if frames.shape == SHAPE else frames
    for frame in frames:
        yield _files.checked_array(frame, SHAPE, np.uint16, "a frame")


def write(path, frames, pixel_map=None, gain_map=None, *, temperature=None, description="", compress=None,
          flatfield_applied=None, pixel_mask_applied=None):
    """Writes frames (an array of one or more, or an iterable of frames, stored one by one) and
    the maps beside them; `compress` is None or "gzip" (deflate with the shuffle filter). The
    file at `path` is replaced only by the whole new one."""
    h5py = _h5py()
    if compress not in (None, "gzip"):
        raise ValueError(f"compress must be None or 'gzip', not {compress!r}")
    filters = {"compression": "gzip", "compression_opts": 4, "shuffle": True} if compress else {}
    mask = None if pixel_map is None else pixel_mask(pixel_map)
    if gain_map is not None:
        gain_map = _files.checked_array(gain_map, maps.GAIN_MAP_SHAPE, np.float32, "a gain map")
    with _files.replacing(path, "a NeXus file") as out, h5py.File(out, "w") as file:
        file.attrs.update({"default": "entry", "creator": "n47.nexus"})
        entry = file.create_group("entry")
        entry.attrs.update({"NX_class": "NXentry", "default": "data"})
        entry["start_time"] = _utc_now()
        entry["program_name"] = "n47.nexus"
        entry["program_name"].attrs["version"] = _version()
        entry.create_group("instrument").attrs["NX_class"] = "NXinstrument"
        detector = file.create_group(_DETECTOR_PATH)
        detector.attrs["NX_class"] = "NXdetector"
        detector["description"] = DETECTOR + ("; " + description if description else "")
        detector["saturation_value"] = np.int32(MAX_VALUE)
        detector["bit_depth_readout"] = np.int32(14)
        for name, value in (("flatfield_applied", flatfield_applied), ("pixel_mask_applied", pixel_mask_applied)):
            if value is not None:
                detector[name] = bool(value)
        if gain_map is not None:
            detector.create_dataset("flatfield", data=gain_map, chunks=maps.GAIN_MAP_SHAPE, **filters)
        if mask is not None:
            detector.create_dataset("pixel_mask", data=mask, chunks=SHAPE, **filters)
        data = detector.create_dataset("data", (0,) + SHAPE, np.uint16, maxshape=(None,) + SHAPE,
                                       chunks=(1,) + SHAPE, **filters)
        count = 0
        for count, frame in enumerate(_frames_of(frames), 1):
            data.resize(count, axis=0)
            data[count - 1] = frame
        if temperature is not None:
            temperature = np.asarray(temperature, np.float32)
            if temperature.shape != (count,):
                raise ValueError(f"temperature must hold one value a frame ({count}), not shape {temperature.shape}")
            detector["temperature"] = temperature
            detector["temperature"].attrs["units"] = "degC"
        plot = entry.create_group("data")
        plot.attrs.update({"NX_class": "NXdata", "signal": "data"})
        plot["data"] = data
        entry["end_time"] = _utc_now()


def _version():
    from . import __version__
    return __version__


def _text(value):
    return value.decode() if isinstance(value, bytes) else str(value)


def read(path, dataset=None):
    """The frames of `dataset` (by default the default NXdata's signal) and the detector's fields."""
    h5py = _h5py()
    with h5py.File(path, "r") as file:
        if dataset is None:
            entry = file[_text(file.attrs.get("default", "entry"))]
            plot = entry[_text(entry.attrs["default"])]
            dataset = plot.name + "/" + _text(plot.attrs["signal"])
        frames = file[dataset][()]
        if frames.ndim == 2:
            frames = frames[None]
        detector = file.get(_DETECTOR_PATH, {})

        def field(name, convert=lambda value: value):
            return convert(detector[name][()]) if name in detector else None

        times = {name: _text(file["entry"][name][()]) if name in file.get("entry", {}) else None
                 for name in ("start_time", "end_time")}
        return Contents(frames=frames, description=field("description", _text) or "",
                        temperature=field("temperature"), pixel_mask=field("pixel_mask"),
                        flatfield=field("flatfield"), flatfield_applied=field("flatfield_applied", bool),
                        pixel_mask_applied=field("pixel_mask_applied", bool), **times)
