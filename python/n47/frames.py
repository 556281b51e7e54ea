"""Headerless raw frames: 2048 x 1536 little-endian unsigned 16-bit pixels, row by row."""

import numpy as np

from . import _files

WIDTH = 2048
HEIGHT = 1536
SHAPE = (HEIGHT, WIDTH)
MAX_VALUE = 16383  # the 14-bit ceiling
FRAME_BYTES = WIDTH * HEIGHT * 2

_FILE_DTYPE = np.dtype("<u2")


def read_raw(path):
    """The frame in a raw file as a (1536, 2048) uint16 array."""
    frame = _files.read_into(path, np.empty(SHAPE, _FILE_DTYPE), "a raw frame")
    return frame.astype(np.uint16, copy=False)


def write_raw(path, frame):
    """Writes a (1536, 2048) uint16 frame; an existing file is replaced only by a whole new one."""
    frame = _files.checked_array(frame, SHAPE, np.uint16, "frame")
    _files.replace_file(path, frame.astype(_FILE_DTYPE, copy=False), "a raw frame")
