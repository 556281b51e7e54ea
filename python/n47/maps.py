"""The library's map files, and the constants of their layout and of the correction.

A pixel map is (1536 + 1) rows of (2048 + 1) bytes: ``cells[r, c]`` is the code of image
pixel (r, c); the last column holds a marker per image row, the last row a marker per image
column (a non-zero marker makes the whole line defective), and the corner byte carries
nothing. A gain map is 1536 rows of 2048 little-endian 32-bit floats, 1.0 for unit gain.
"""

import numpy as np

from . import _files
from .frames import HEIGHT, WIDTH

PIXEL_MAP_SHAPE = (HEIGHT + 1, WIDTH + 1)
GAIN_MAP_SHAPE = (HEIGHT, WIDTH)
PIXEL_MAP_BYTES = PIXEL_MAP_SHAPE[0] * PIXEL_MAP_SHAPE[1]  # 3,149,313
GAIN_MAP_BYTES = GAIN_MAP_SHAPE[0] * GAIN_MAP_SHAPE[1] * 4  # 12,582,912

# Pixel codes. Any non-zero code is defective; 2 also selects the code-2 repair (the mean of
# the 3 x 3 block of which the pixel is the bottom-right corner). Calibration writes only 1.
GOOD = 0
DEFECTIVE = 1
CODE2 = 2

MARKER_COLUMN = WIDTH  # cells[r, MARKER_COLUMN]: the marker of image row r
MARKER_ROW = HEIGHT    # cells[MARKER_ROW, c]: the marker of image column c
MARKED = 1             # the marker value calibration writes

BORDER = 20        # pixels on each side that normal-mode correction sets to the maximum
DARK_OFFSET = 100  # counts a flat loses before its gains are computed
OUTLIER = 5000     # the value of an outlier in the pictures a calibration step draws

_GAIN_FILE_DTYPE = np.dtype("<f4")


def read_pixel_map(path):
    """A pixel-map file as a (1537, 2049) uint8 array."""
    return _files.read_into(path, np.empty(PIXEL_MAP_SHAPE, np.uint8), "a pixel map")


def read_gain_map(path):
    """A gain-map file as a (1536, 2048) float32 array."""
    gains = _files.read_into(path, np.empty(GAIN_MAP_SHAPE, _GAIN_FILE_DTYPE), "a gain map")
    return gains.astype(np.float32, copy=False)


def write_pixel_map(path, cells):
    """Writes a (1537, 2049) uint8 pixel map, replacing an existing file in one step."""
    cells = _files.checked_array(cells, PIXEL_MAP_SHAPE, np.uint8, "a pixel map")
    _files.replace_file(path, cells, "a pixel map")


def write_gain_map(path, gains):
    """Writes a (1536, 2048) float32 gain map, replacing an existing file in one step."""
    gains = _files.checked_array(gains, GAIN_MAP_SHAPE, np.float32, "a gain map")
    _files.replace_file(path, gains.astype(_GAIN_FILE_DTYPE, copy=False), "a gain map")
