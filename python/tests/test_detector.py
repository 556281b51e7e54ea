import numpy as np
import pytest

import n47
from conftest import ramp, run_python


def test_one_detector_at_a_time_each_close_frees_it(sim):
    sim.reset()
    with n47.Detector() as first:
        with pytest.raises(n47.DetectorError, match="a detector already exists in this process"):
            n47.Detector().open()
    with n47.Detector() as second:
        assert second.connected
    second.close()
    with pytest.raises(n47.DetectorError, match="not open"):
        second.acquire()
    assert not first.is_open


def test_creation_without_memory_says_so_and_a_later_one_succeeds():
    out = run_python(
        "import resource, n47\n"
        "detector = n47.Detector()\n"
        "used = int(open('/proc/self/statm').read().split()[0]) * resource.getpagesize()\n"
        "hard = resource.getrlimit(resource.RLIMIT_AS)[1]\n"
        "resource.setrlimit(resource.RLIMIT_AS, (used + (32 << 20), hard))\n"
        "try:\n"
        "    detector.open()\n"
        "except n47.DetectorError as error:\n"
        "    print(error)\n"
        "resource.setrlimit(resource.RLIMIT_AS, (hard, hard))\n"
        "with detector:\n"
        "    print('created')\n")
    assert out.splitlines() == ["the detector could not be created: memory ran out", "created"]


def test_a_device_that_does_not_open_shows_as_not_connected(sim):
    sim.reset()
    sim.set_open_result(-1)
    with n47.Detector() as detector:
        assert not detector.connected


@pytest.mark.parametrize("message, codes", [
    (b"vsu", [1, 2, 3]),
    (b"\0u\0\0v" + bytes(59), [3, 1]),
    (b"x" * 64, []),
])
def test_poll_message_gives_the_switch_codes_of_the_next_message(detector, sim, message, codes):
    sim.push_message(message)
    assert detector.poll_message() == codes
    assert detector.poll_message() == []  # nothing waiting: the last message is cleared


def test_messages_carry_the_temperature(detector, sim):
    sim.push_message(b"\0f\x1eg")
    detector.poll_message()
    assert detector.temperature == 25  # the byte is offset by 5 degrees
    sim.start_model(seed=3)
    detector.drain_messages()
    assert detector.temperature == sim.temperature
    with pytest.raises(ValueError, match="at most 64"):
        sim.push_message(bytes(65))


def test_acquire_copies_and_image_views_the_buffer_the_next_capture_overwrites(detector, sim, tmp_path):
    detector.calibration_mode = True  # a smooth ramp then passes the correction unchanged
    assert detector.calibration_mode
    for name, scale in (("a.raw", 1), ("b.raw", 2)):
        n47.frames.write_raw(tmp_path / name, ramp(scale))
    sim.play_raw(tmp_path / "a.raw")
    first = detector.acquire()
    view = detector.image
    sim.play_raw(tmp_path / "b.raw")
    second = detector.acquire()
    assert first.dtype == np.uint16 and first.shape == (1536, 2048)
    assert np.array_equal(first, ramp(1)) and np.array_equal(second, ramp(2))
    assert np.array_equal(view, second) and not view.flags.writeable
    last = sim.calls()[-1]
    assert (last.name, last.argument, last.result) == ("LVDS_GetFrame", n47.frames.FRAME_BYTES, 1)


def test_a_held_frame_check_raises_capture_timeout_and_keeps_the_image(detector, sim):
    before = detector.image.copy()
    sim.hold_check(0)
    try:
        with pytest.raises(n47.CaptureTimeout):
            detector.acquire()
    finally:
        sim.release_check()
    assert np.array_equal(detector.image, before)
    assert detector.acquire().shape == (1536, 2048)


def test_calibrate_keeps_the_callers_frames_and_returns_the_outlier_pictures(detector, tmp_path):
    frames = np.full((2,) + n47.frames.SHAPE, 1000, np.uint16)
    frames[:, 500, 600] = 3000
    frames[:, 3, 3] = 3000  # in the margin the statistics leave out
    original = frames.copy()
    pictures = detector.calibrate(list(frames))
    assert np.array_equal(frames, original)
    interior = pictures[:, 16:-16, 16:-16]
    assert pictures.shape == (2, 1536, 2048) and np.count_nonzero(interior) == 2
    assert (pictures[:, 500, 600] == n47.maps.OUTLIER).all() and (pictures[:, 3, 3] == 3000).all()
    detector.save_pixel_map(tmp_path / "pixel.raw")
    cells = n47.maps.read_pixel_map(tmp_path / "pixel.raw")
    assert np.argwhere(cells).tolist() == [[500, 600]] and cells[500, 600] == n47.maps.DEFECTIVE


@pytest.mark.parametrize("frames, error", [
    ([], "1 to 65537 frames, not 0"),
    ([np.zeros((1536, 2048), np.float32)], "frame 0 must be a uint16 array"),
    ([np.zeros((1536, 2048), np.uint16), np.zeros((1537, 2048), np.uint16)], "frame 1 must be"),
    (np.zeros((1536, 2048), np.uint16), "frame 0 must be"),
])
def test_calibrate_refuses_bad_series_before_any_step(detector, frames, error):
    with pytest.raises(ValueError, match=error):
        detector.calibrate(frames)


def _write(path, size):
    path.write_bytes(bytes(size))
    return path


@pytest.mark.parametrize("load, size", [("load_pixel_map", n47.maps.PIXEL_MAP_BYTES),
                                        ("load_gain_map", n47.maps.GAIN_MAP_BYTES)])
@pytest.mark.parametrize("make, reason", [
    (lambda folder, size: folder / "missing.raw", "No such file"),
    (lambda folder, size: folder, "not a regular file"),
    (lambda folder, size: _write(folder / "short.raw", size - 1), "bytes; a .* map has exactly"),
    (lambda folder, size: folder / "fifo", "not a regular file"),
])
def test_refused_map_loads_give_the_reason(detector, tmp_path, fifo, no_hang, load, size, make, reason):
    with pytest.raises(n47.DetectorError, match=reason):
        getattr(detector, load)(make(tmp_path, size))
    getattr(detector, load)(_write(tmp_path / "good.raw", size))


@pytest.mark.parametrize("save", ["save_pixel_map", "save_gain_map"])
@pytest.mark.parametrize("target, reason", [("no/such/folder/map.raw", "does not exist"),
                                            (".", "not a regular file"),
                                            ("fifo", "not a regular file"),
                                            ("link", "a link to nothing")])
def test_refused_map_saves_give_the_reason(detector, tmp_path, fifo, no_hang, save, target, reason):
    (tmp_path / "link").symlink_to(tmp_path / "nothing")
    with pytest.raises(n47.DetectorError, match=reason):
        getattr(detector, save)(tmp_path / target)


@pytest.mark.parametrize("name", ["fifo", "short.raw"])
def test_play_raw_refuses_what_is_no_raw_frame_without_waiting(sim, tmp_path, fifo, no_hang, name):
    (tmp_path / "short.raw").write_bytes(bytes(100))
    with pytest.raises(ValueError, match="a raw frame"):
        sim.play_raw(tmp_path / name)
