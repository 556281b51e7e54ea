"""NeXus files as the field's readers see them: h5py, silx, fabio, and the TIFF of the same acquisition."""
import os
import signal
import subprocess

import numpy as np
import pytest

import n47
from n47 import maps, nexus
from conftest import ramp, run_python

h5py = pytest.importorskip("h5py")
TOOL = os.environ.get("N47_TOOL")
needs_tool = pytest.mark.skipif(not TOOL, reason="N47_TOOL names no n47 program (a build without the tools)")
DETECTOR = "/entry/instrument/detector"


def every_code():
    """A pixel map with cells of codes 1, 2 and 7, a marked row and a marked column crossing."""
    cells = np.zeros(maps.PIXEL_MAP_SHAPE, np.uint8)
    cells[10, 20], cells[11, 21], cells[12, 22] = 1, maps.CODE2, 7
    cells[30, maps.MARKER_COLUMN] = maps.MARKED
    cells[maps.MARKER_ROW, 40] = maps.MARKED
    cells[30, 40] = maps.CODE2
    return cells


def tool(*arguments, **options):
    return subprocess.run([TOOL, *map(str, arguments)], capture_output=True, text=True, timeout=300, **options)


@pytest.fixture(scope="module")
def acquired(tmp_path_factory):
    """The same acquisition as TIFF, NeXus and gzip-compressed NeXus, corrected with both maps."""
    folder = tmp_path_factory.mktemp("acquired")
    cells, gains = every_code(), np.random.default_rng(3).uniform(0.9, 1.1, maps.GAIN_MAP_SHAPE).astype(np.float32)
    maps.write_pixel_map(folder / "pixel.map", cells)
    maps.write_gain_map(folder / "gain.map", gains)
    common = ["--frames", 3, "--scene", "phantom", "--pixel-map", folder / "pixel.map", "--gain-map", folder / "gain.map"]
    for name, extra in (("x.tif", []), ("x.h5", []), ("x.nxs", ["--compress", "gzip"])):
        done = tool("acquire", folder / name, *common, *extra)
        assert done.returncode == 0, done.stderr
    return folder, cells, gains, n47_tiff_pages(folder / "x.tif")


def n47_tiff_pages(path):
    tifffile = pytest.importorskip("tifffile")
    return tifffile.imread(path)


@needs_tool
@pytest.mark.parametrize("name, compression", [("x.h5", None), ("x.nxs", "gzip")])
def test_the_tools_file_holds_the_tree_and_the_tiffs_frames(acquired, name, compression):
    folder, cells, gains, tiff = acquired
    with h5py.File(folder / name, "r") as file:
        assert file.attrs["default"] == "entry" and file["entry"].attrs["default"] == "data"
        for group, nx_class in (("entry", "NXentry"), ("entry/instrument", "NXinstrument"),
                                (DETECTOR, "NXdetector"), ("entry/data", "NXdata")):
            assert file[group].attrs["NX_class"] == nx_class, group
        assert file["entry/program_name"].attrs["version"] == n47.__version__
        assert file["entry/start_time"][()] <= file["entry/end_time"][()]
        detector = file[DETECTOR]
        data = detector["data"]
        assert (data.dtype, data.shape, data.chunks) == (np.uint16, (3, 1536, 2048), (1, 1536, 2048))
        assert (data.compression, data.shuffle) == ((compression, bool(compression)))
        assert file["entry/data/data"] == data and file["entry/data"].attrs["signal"] == "data"
        np.testing.assert_array_equal(data[()], tiff)
        assert (detector["saturation_value"][()], detector["bit_depth_readout"][()]) == (16383, 14)
        assert detector["temperature"].shape == (3,) and detector["temperature"].attrs["units"] == "degC"
        assert detector["flatfield_applied"][()] and detector["pixel_mask_applied"][()]
        np.testing.assert_array_equal(detector["flatfield"][()], gains)
        np.testing.assert_array_equal(detector["pixel_mask"][()], nexus.pixel_mask(cells))
        assert b"phantom" in detector["description"][()]


@needs_tool
def test_silx_and_fabio_open_the_default_plot_and_the_frames(acquired):
    nxdata = pytest.importorskip("silx.io.nxdata")
    fabio = pytest.importorskip("fabio")
    folder, _, _, tiff = acquired
    with h5py.File(folder / "x.h5", "r") as file:
        assert nxdata.is_valid_nxdata(file["entry/data"])
        assert nxdata.get_default(file).signal.shape == tiff.shape
    image = fabio.open(f"{folder / 'x.nxs'}::/entry/data/data")
    assert image.nframes == 3
    np.testing.assert_array_equal(image.getframe(2).data, tiff[2])


@pytest.mark.parametrize("cell, row, column, bits", [
    ((10, 20), 0, 0, nexus.DEAD | nexus.DEFECTIVE_CELL),
    ((11, 21), 0, 0, nexus.DEAD | nexus.DEFECTIVE_CELL | nexus.CODE2),
    ((12, 22), 0, 0, nexus.DEAD | nexus.DEFECTIVE_CELL),
    ((30, 5), 1, 0, nexus.DEAD | nexus.MARKED_ROW),
    ((5, 40), 0, 1, nexus.DEAD | nexus.MARKED_COLUMN),
    ((30, 40), 1, 1, nexus.DEAD | nexus.DEFECTIVE_CELL | nexus.CODE2 | nexus.MARKED_ROW | nexus.MARKED_COLUMN),
    ((0, 0), 0, 0, 0),
])
def test_pixel_mask_bits_tell_cells_code_2_and_marked_lines_apart(cell, row, column, bits):
    assert nexus.pixel_mask(every_code())[cell] == bits


@needs_tool
def test_maps_export_writes_the_mask_the_package_computes(tmp_path):
    maps.write_pixel_map(tmp_path / "pixel.map", every_code())
    done = tool("maps", "export", tmp_path / "pixel.map", tmp_path / "mask.h5", "--compress", "gzip")
    assert done.returncode == 0, done.stderr
    contents = nexus.read(tmp_path / "mask.h5")
    np.testing.assert_array_equal(contents.pixel_mask, nexus.pixel_mask(every_code()))
    np.testing.assert_array_equal(contents.frames[0], contents.pixel_mask)  # the default plot


def test_write_and_read_round_trip_and_the_tool_reads_it_back(tmp_path):
    frames = np.stack([ramp(), ramp(3)])
    cells, gains = every_code(), np.full(maps.GAIN_MAP_SHAPE, 1.25, np.float32)
    nexus.write(tmp_path / "p.h5", iter(frames), cells, gains, temperature=[21, 22], description="ramps",
                compress="gzip", flatfield_applied=False, pixel_mask_applied=True)
    back = nexus.read(tmp_path / "p.h5")
    np.testing.assert_array_equal(back.frames, frames)
    np.testing.assert_array_equal(back.temperature, [21, 22])
    np.testing.assert_array_equal(back.flatfield, gains)
    np.testing.assert_array_equal(back.pixel_mask, nexus.pixel_mask(cells))
    assert (back.flatfield_applied, back.pixel_mask_applied) == (False, True)
    assert back.description.endswith("; ramps") and back.start_time <= back.end_time
    assert [name for name in os.listdir(tmp_path) if name != "p.h5"] == []
    if TOOL:
        done = tool("convert", tmp_path / "p.h5", tmp_path / "one.tif", "--frame", 1)
        assert done.returncode == 0, done.stderr
        np.testing.assert_array_equal(n47_tiff_pages(tmp_path / "one.tif"), frames[1])


def test_a_failed_write_keeps_the_previous_file(tmp_path):
    nexus.write(tmp_path / "p.h5", ramp())
    before = (tmp_path / "p.h5").read_bytes()
    with pytest.raises(TypeError, match="uint16"):
        nexus.write(tmp_path / "p.h5", [ramp(), ramp().astype(np.int32)])
    assert (tmp_path / "p.h5").read_bytes() == before and os.listdir(tmp_path) == ["p.h5"]


def test_without_h5py_the_package_works_and_says_what_nexus_needs():
    out = run_python("import sys; sys.modules['h5py'] = None\n"
                     "import n47\n"
                     "n47.maps.read_pixel_map  # the rest of the package is there\n"
                     "try:\n    n47.nexus.read('x.h5')\nexcept ImportError as error:\n    print(error)\n")
    assert "python3-h5py" in out


@needs_tool
def test_a_stopped_acquisition_keeps_the_frames_taken_as_the_tiff_does(tmp_path):
    process = subprocess.Popen([TOOL, "acquire", tmp_path / "x.h5", "--frames", "200", "--seed", "9"],
                               stderr=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                               preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
    for line in process.stderr:
        if "acquiring 2/200" in line:
            process.send_signal(signal.SIGINT)
            break
    process.communicate(timeout=120)
    assert process.returncode == 130
    taken = nexus.read(tmp_path / "x.h5").frames
    assert 2 <= len(taken) < 200
    assert tool("acquire", tmp_path / "x.tif", "--frames", len(taken), "--seed", "9").returncode == 0
    np.testing.assert_array_equal(taken, n47_tiff_pages(tmp_path / "x.tif").reshape(taken.shape))


@needs_tool
def test_calibration_flats_saved_as_nexus_equal_those_saved_as_tiff(tmp_path):
    for flats in ("flats.h5", "flats.tif"):
        done = tool("calibrate", "--acquire", 2, "--pixel-map", tmp_path / f"{flats}.pixel",
                    "--gain-map", tmp_path / f"{flats}.gain", "--save-flats", tmp_path / flats)
        assert done.returncode == 0, done.stderr
    saved = nexus.read(tmp_path / "flats.h5")
    np.testing.assert_array_equal(saved.frames, n47_tiff_pages(tmp_path / "flats.tif"))
    assert (saved.flatfield_applied, saved.pixel_mask_applied) == (False, False)
