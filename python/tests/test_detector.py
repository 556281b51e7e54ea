import os
import resource

import numpy as np
import pytest

import n47
from conftest import flat, ramp, run_python


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


def test_a_device_that_does_not_open_shows_as_not_connected_and_gives_no_frame(sim):
    sim.reset()
    sim.set_open_result(-1)
    with n47.Detector() as detector:
        assert not detector.connected
        with pytest.raises(n47.DetectorError, match="did not open"):
            detector.acquire()


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
    (lambda folder, size: f"{_write(folder / 'map.raw', size)}/", "ends with a slash, so it names a folder"),
])
def test_refused_map_loads_give_the_reason(detector, tmp_path, fifo, no_hang, load, size, make, reason):
    with pytest.raises(n47.DetectorError, match=reason):
        getattr(detector, load)(make(tmp_path, size))
    getattr(detector, load)(_write(tmp_path / "good.raw", size))


@pytest.mark.parametrize("save", ["save_pixel_map", "save_gain_map"])
@pytest.mark.parametrize("target, reason", [("no/such/folder/map.raw", "does not exist"),
                                            (".", "not a regular file"),
                                            ("fifo", "not a regular file"),
                                            ("link", "a link to nothing"),
                                            ("new/", "ends with a slash, so it names a folder"),
                                            ("n" * 256, "cannot be written: File name too long")])
def test_refused_map_saves_give_the_reason(calibrated, tmp_path, fifo, no_hang, save, target, reason):
    (tmp_path / "link").symlink_to(tmp_path / "nothing")
    with pytest.raises(n47.DetectorError, match=reason):
        getattr(calibrated, save)(f"{tmp_path}/{target}")
    assert not (tmp_path / "new").exists()


def test_a_save_cut_short_names_the_cause_not_the_disk(calibrated, tmp_path):
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, hard))
    try:
        with pytest.raises(n47.DetectorError) as refused:
            calibrated.save_gain_map(tmp_path / "gain.raw")
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
    assert str(refused.value).endswith("the gain map cannot be written: File too large")
    assert os.listdir(tmp_path) == []


@pytest.mark.parametrize("name", ["fifo", "short.raw"])
def test_play_raw_refuses_what_is_no_raw_frame_without_waiting(sim, tmp_path, fifo, no_hang, name):
    (tmp_path / "short.raw").write_bytes(bytes(100))
    with pytest.raises(ValueError, match="a raw frame"):
        sim.play_raw(tmp_path / name)


def test_views_of_the_image_outlive_close_and_the_interpreter_exits_cleanly():
    out = run_python(
        "import gc, n47, numpy as np\n"
        "sim = n47.Simulator()\n"
        "sim.start_model(seed=5)\n"
        "sim.scene, sim.dose = 'flat', 3000\n"
        "with n47.Detector() as d:\n"
        "    frame = d.acquire()\n"
        "    v = d.image[10:]\n"
        "print(np.array_equal(v, frame[10:]))\n"
        "try:\n"
        "    n47.Detector().open()\n"
        "except n47.DetectorError as error:\n"
        "    print(error)\n"
        "del v\n"
        "with n47.Detector() as d:\n"
        "    print(d.connected)\n"
        "cycle = [n47.Detector().open().image]\n"  # the detector collected under its view
        "cycle.append(cycle)\n"
        "del cycle\n"
        "kept = n47.Detector().open().image\n"  # freed or not at exit, never read freed
        "print(kept.shape)\n")
    lines = out.splitlines()
    assert lines[0] == "True" and "last view of its image is gone (views left: 1;" in lines[1]
    assert lines[2:] == ["True", "(1536, 2048)"]


def test_model_parameters_outside_their_range_raise_value_error_and_keep_the_model(sim):
    sim.reset()
    sim.start_model(seed=9)
    before = sim.defects()
    for params, error, message in [
        (dict(dead_rows=4), ValueError, "dead_rows must lie between 0 and 3, not 4"),
        (dict(bright_columns=5000), ValueError, "bright_columns must lie between 0 and 3, not 5000"),
        (dict(band_lines=600), ValueError, "band_lines must lie between 0 and 337, not 600"),
        (dict(dead_pixels=2**32 + 1), ValueError, "dead_pixels must lie between 0 and 100000"),
        (dict(prnu=float("nan")), ValueError, "prnu must lie between 0 and 0.1, not nan"),
        (dict(shading=-0.1), ValueError, "shading must lie between 0 and 0.75"),
        (dict(clusters=2.5), TypeError, "clusters must be an integer, not float"),
        (dict(read_noise="3"), TypeError, "read_noise must be a number, not str"),
    ]:
        with pytest.raises(error, match=message):
            sim.start_model(seed=10, **params)
    assert np.array_equal(sim.defects(), before)
    ranges = sim.model_ranges()
    top = sim.start_model(seed=10, **{name: ranges[name][1] for name in ("dead_rows", "bright_columns", "band_lines")})
    defects = sim.defects()
    assert top["band_lines"] == 337 and defects["row"].max() < 1536 and defects["column"].max() < 2048


def test_maps_are_saved_only_after_a_completed_series(detector, tmp_path):
    def broken_series():
        yield flat()
        raise RuntimeError("the flats ran out")

    for attempt in (None, broken_series):
        if attempt is not None:
            with pytest.raises(RuntimeError):
                detector.calibrate(attempt(), pictures=False)
        for save in (detector.save_pixel_map, detector.save_gain_map):
            with pytest.raises(n47.DetectorError, match="no calibration series has completed"):
                save(tmp_path / "map.raw")
    assert not (tmp_path / "map.raw").exists()
    assert detector.calibrate(iter([flat(), flat()]), pictures=False) == 2
    detector.save_gain_map(tmp_path / "gain.raw")
    assert (n47.maps.read_gain_map(tmp_path / "gain.raw") == 1.0).all()


def test_a_series_from_a_generator_equals_the_same_series_from_a_list(detector, tmp_path):
    series = [flat(1000 + 10 * index) for index in range(3)]
    series[1][700, 800:803] = 0  # a defect the calibration marks
    saved = {}
    for name, frames in (("list", series), ("generator", (frame.copy() for frame in series))):
        pictures = detector.calibrate(frames)
        detector.save_pixel_map(tmp_path / f"{name}.pixel")
        detector.save_gain_map(tmp_path / f"{name}.gain")
        saved[name] = [(tmp_path / f"{name}.{kind}").read_bytes() for kind in ("pixel", "gain")] + [pictures.tobytes()]
    assert saved["list"] == saved["generator"]
    assert np.count_nonzero(n47.maps.read_pixel_map(tmp_path / "list.pixel")[:-1, :-1]) == 3


def test_a_long_series_without_its_pictures_keeps_memory_flat():
    out = run_python(
        "import resource, n47, numpy as np\n"
        "def peak():\n"
        "    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss >> 10\n"
        "def flats(count):\n"
        "    for _ in range(count):\n"
        "        yield np.full((1536, 2048), 1000, np.uint16)\n"
        "with n47.Detector() as d:\n"
        "    d.calibrate(flats(2), pictures=False)\n"
        "    before = peak()\n"
        "    print(d.calibrate(flats(40), pictures=False), peak() - before)\n")
    count, growth = map(int, out.split())
    assert count == 40 and growth < 24, f"{growth} MiB more for 38 more frames"
