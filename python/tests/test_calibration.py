import os
import subprocess

import numpy as np
import pytest

import n47
from n47 import frames, maps

FLATS = 4
DOSE = 6000.0
MARGIN = 32  # clear of the masked border and of the calibration's margin


def relative_rms(frame):
    inner = frame[MARGIN:-MARGIN, MARGIN:-MARGIN].astype(np.float64)
    return inner.std() / inner.mean()


def rms_error(frame, ideal):
    difference = frame.astype(np.float64) - ideal
    return np.sqrt(np.mean(difference[MARGIN:-MARGIN, MARGIN:-MARGIN] ** 2))


@pytest.fixture(scope="module")
def calibrated(sim, tmp_path_factory):
    """A detector calibrated on flats of the model that were written to raw files and played back."""
    folder = tmp_path_factory.mktemp("calibration")
    sim.reset()
    sim.start_model(seed=47)
    sim.scene, sim.dose = "flat", DOSE
    flats = [str(folder / f"flat{index}.raw") for index in range(FLATS)]
    for path in flats:
        frames.write_raw(path, sim.render())
    with n47.Detector() as detector:
        detector.calibration_mode = True
        captured = []
        for path in flats:
            sim.play_raw(path)
            captured.append(detector.acquire())
        detector.calibrate(captured)
        detector.save_pixel_map(folder / "pixel.raw")
        detector.save_gain_map(folder / "gain.raw")
        detector.load_pixel_map(folder / "pixel.raw")
        detector.load_gain_map(folder / "gain.raw")
        detector.calibration_mode = False
        sim.scene = "flat"  # the model renders again instead of the last file
        yield folder, flats, detector


def test_the_saved_maps_equal_the_tools_byte_for_byte(calibrated, tmp_path):
    folder, flats, _ = calibrated
    tool = os.environ.get("N47_TOOL")
    if not tool:
        pytest.skip("N47_TOOL names no n47 program (a build without the tools)")
    subprocess.run([tool, "calibrate", *flats, "--pixel-map", str(tmp_path / "pixel.raw"),
                    "--gain-map", str(tmp_path / "gain.raw")], check=True, capture_output=True)
    for name in ("pixel.raw", "gain.raw"):
        assert (folder / name).read_bytes() == (tmp_path / name).read_bytes(), name
    # The package's own reader and writer reproduce the library's files.
    maps.write_pixel_map(tmp_path / "again-pixel.raw", maps.read_pixel_map(folder / "pixel.raw"))
    maps.write_gain_map(tmp_path / "again-gain.raw", maps.read_gain_map(folder / "gain.raw"))
    assert (tmp_path / "again-pixel.raw").read_bytes() == (folder / "pixel.raw").read_bytes()
    assert (tmp_path / "again-gain.raw").read_bytes() == (folder / "gain.raw").read_bytes()


def test_a_corrected_flat_is_far_flatter_than_the_raw_one(calibrated, sim):
    _, _, detector = calibrated
    sim.scene = "flat"
    corrected = detector.acquire()
    raw = sim.last_frame()
    assert relative_rms(corrected) < relative_rms(raw) / 4, (relative_rms(corrected), relative_rms(raw))


def test_the_corrected_phantom_is_closer_to_the_ideal_image(calibrated, sim):
    _, _, detector = calibrated
    sim.scene = "phantom"
    corrected = detector.acquire()
    raw, ideal = sim.last_frame(), sim.ideal()
    assert rms_error(corrected, ideal) < rms_error(raw, ideal) / 4, (rms_error(corrected, ideal), rms_error(raw, ideal))
