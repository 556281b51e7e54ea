import os
import pathlib
import resource
import stat

import numpy as np
import pytest

import n47
from n47 import frames, maps

rng = np.random.default_rng(47)

FORMATS = {
    "pixel map": (maps.read_pixel_map, maps.write_pixel_map, maps.PIXEL_MAP_BYTES,
                  lambda: rng.integers(0, 256, maps.PIXEL_MAP_SHAPE, dtype=np.uint8)),
    "gain map": (maps.read_gain_map, maps.write_gain_map, maps.GAIN_MAP_BYTES,
                 lambda: rng.integers(0, 2**32, maps.GAIN_MAP_SHAPE, dtype=np.uint32).view(np.float32)),
    "raw frame": (frames.read_raw, frames.write_raw, frames.FRAME_BYTES,
                  lambda: rng.integers(0, 2**16, frames.SHAPE, dtype=np.uint16)),
}
formats = pytest.mark.parametrize("kind", FORMATS)


def sized(path, size):
    path.write_bytes(bytes(size))
    return path


def leftovers(folder):
    return [name for name in os.listdir(folder) if name.endswith(".tmp")]


@formats
def test_round_trip_bit_for_bit_in_little_endian(tmp_path, kind):
    read, write, size, make = FORMATS[kind]
    values = make()  # gains: every bit pattern, NaNs and infinities included
    write(tmp_path / "file", values)
    assert os.path.getsize(tmp_path / "file") == size
    assert (tmp_path / "file").read_bytes() == values.astype(values.dtype.newbyteorder("<")).tobytes()
    back = read(tmp_path / "file")
    assert back.dtype == values.dtype and back.view(np.uint8).tobytes() == values.view(np.uint8).tobytes()
    assert back.flags.writeable


@formats
@pytest.mark.parametrize("make, error, reason", [
    (lambda p, size: sized(p, 0), ValueError, "0 bytes"),
    (lambda p, size: sized(p, size - 1), ValueError, "bytes; a .* has exactly"),
    (lambda p, size: sized(p, size + 1), ValueError, "bytes; a .* has exactly"),
    (lambda p, size: p.parent / "fifo", ValueError, "not a regular file"),
    (lambda p, size: "/dev/zero", ValueError, "not a regular file"),
    (lambda p, size: p.parent, ValueError, "not a regular file"),
    (lambda p, size: p.parent / "missing", FileNotFoundError, ""),
])
def test_readers_refuse_files_of_another_size_or_kind(tmp_path, fifo, no_hang, kind, make, error, reason):
    read, _, size, _ = FORMATS[kind]
    with pytest.raises(error, match=reason):
        read(make(tmp_path / "file", size))


@pytest.mark.parametrize("write, value, error, reason", [
    (maps.write_pixel_map, np.zeros((1536, 2048), np.uint8), ValueError, r"shape \(1537, 2049\)"),
    (maps.write_pixel_map, np.zeros(maps.PIXEL_MAP_SHAPE, np.int8), TypeError, "dtype uint8"),
    (maps.write_gain_map, np.zeros(maps.GAIN_MAP_SHAPE), TypeError, "dtype float32, not float64"),
    (maps.write_gain_map, np.zeros(maps.PIXEL_MAP_SHAPE, np.float32), ValueError, "shape"),
    (maps.write_gain_map, [[1.0] * 2048] * 1536, TypeError, "numpy array"),
    (frames.write_raw, np.zeros(frames.SHAPE, np.int32), TypeError, "dtype uint16"),
])
def test_writers_refuse_wrong_shapes_and_dtypes_leaving_the_target(tmp_path, write, value, error, reason):
    target = tmp_path / "target"
    target.write_bytes(b"before")
    with pytest.raises(error, match=reason):
        write(target, value)
    assert target.read_bytes() == b"before" and leftovers(tmp_path) == []


def test_a_big_endian_gain_map_is_written_little_endian(tmp_path):
    gains = np.linspace(0, 2, 1536 * 2048, dtype=np.float32).reshape(maps.GAIN_MAP_SHAPE)
    maps.write_gain_map(tmp_path / "gain", gains.astype(">f4")[:, :])
    assert np.array_equal(maps.read_gain_map(tmp_path / "gain"), gains)


def test_replacement_keeps_the_permissions_and_a_new_file_gets_the_umask(tmp_path):
    target = tmp_path / "map"
    target.write_bytes(b"old")
    os.chmod(target, 0o640)
    maps.write_pixel_map(target, np.ones(maps.PIXEL_MAP_SHAPE, np.uint8))
    assert stat.S_IMODE(os.stat(target).st_mode) == 0o640 and os.path.getsize(target) == maps.PIXEL_MAP_BYTES
    mask = os.umask(0o027)
    try:
        maps.write_pixel_map(tmp_path / "new", np.ones(maps.PIXEL_MAP_SHAPE, np.uint8))
    finally:
        os.umask(mask)
    assert stat.S_IMODE(os.stat(tmp_path / "new").st_mode) == 0o640
    assert leftovers(tmp_path) == []


def test_a_symlinked_target_keeps_its_link_and_the_file_it_points_to_is_replaced(tmp_path):
    (tmp_path / "real").mkdir()
    real = tmp_path / "real" / "gain.raw"
    real.write_bytes(b"old")
    link = tmp_path / "gain.raw"
    link.symlink_to(real)
    gains = np.full(maps.GAIN_MAP_SHAPE, 0.5, np.float32)
    maps.write_gain_map(link, gains)
    assert link.is_symlink() and os.readlink(link) == str(real)
    assert np.array_equal(maps.read_gain_map(real), gains)
    assert leftovers(tmp_path) == [] and leftovers(tmp_path / "real") == []


@pytest.mark.parametrize("target", ["folder", "fifo", "link-to-fifo", "link-to-nothing"])
def test_a_target_that_is_not_a_regular_file_is_refused_and_left_alone(tmp_path, fifo, no_hang, target):
    (tmp_path / "folder").mkdir()
    (tmp_path / "link-to-fifo").symlink_to(fifo)
    (tmp_path / "link-to-nothing").symlink_to(tmp_path / "nothing")
    with pytest.raises(ValueError, match="is left alone"):
        maps.write_pixel_map(tmp_path / target, np.zeros(maps.PIXEL_MAP_SHAPE, np.uint8))
    assert stat.S_ISFIFO(os.stat(fifo).st_mode) and (tmp_path / "folder").is_dir()
    assert not (tmp_path / "nothing").exists() and leftovers(tmp_path) == []


def test_a_write_cut_short_keeps_the_previous_file_and_removes_the_temporary(tmp_path):
    target = tmp_path / "gain.raw"
    before = np.full(maps.GAIN_MAP_SHAPE, 1.0, np.float32)
    maps.write_gain_map(target, before)
    soft, hard = resource.getrlimit(resource.RLIMIT_FSIZE)
    resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, hard))  # as a disk that fills up
    try:
        with pytest.raises(OSError):
            maps.write_gain_map(target, np.zeros(maps.GAIN_MAP_SHAPE, np.float32))
    finally:
        resource.setrlimit(resource.RLIMIT_FSIZE, (soft, hard))
    assert np.array_equal(maps.read_gain_map(target), before) and leftovers(tmp_path) == []


def test_the_library_loads_the_maps_the_package_writes(sim, tmp_path):
    cells = np.zeros(maps.PIXEL_MAP_SHAPE, np.uint8)
    cells[700, 900] = maps.DEFECTIVE
    maps.write_pixel_map(tmp_path / "pixel.raw", cells)
    maps.write_gain_map(tmp_path / "gain.raw", np.full(maps.GAIN_MAP_SHAPE, 2.0, np.float32))
    frame = np.full(frames.SHAPE, 1000, np.uint16)
    frame[700, 900] = 16383
    frames.write_raw(tmp_path / "frame.raw", frame)
    sim.reset()
    with n47.Detector() as detector:
        detector.load_pixel_map(tmp_path / "pixel.raw")
        detector.load_gain_map(tmp_path / "gain.raw")
        sim.play_raw(tmp_path / "frame.raw")
        corrected = detector.acquire()
    b = maps.BORDER
    offset = maps.DARK_OFFSET  # gains apply about it; the marked pixel is repaired
    assert (corrected[b:-b, b:-b] == (1000 - offset) * 2 + offset).all()
    assert (corrected[:b] == frames.MAX_VALUE).all() and (corrected[:, -b:] == frames.MAX_VALUE).all()


@formats
@pytest.mark.parametrize("name", ["n" * 255, "\u00e9" * 127 + "n"])  # 255 bytes, the longest legal name
def test_the_longest_legal_name_is_written_and_its_temporary_fits(tmp_path, kind, name):
    read, write, size, make = FORMATS[kind]
    values = make()
    write(tmp_path / name, values)
    assert read(tmp_path / name).tobytes() == values.tobytes() and os.listdir(tmp_path) == [name]


@pytest.mark.parametrize("spell", [str, os.fsencode, pathlib.Path])
def test_readers_and_writers_take_str_bytes_and_path_like_alike(calibrated, sim, tmp_path, spell):
    for kind, (read, write, size, make) in FORMATS.items():
        values = make()
        write(spell(tmp_path / kind), values)
        assert read(spell(tmp_path / kind)).tobytes() == values.tobytes()
    sim.play_raw(spell(tmp_path / "raw frame"))
    for save, load in (("save_pixel_map", "load_pixel_map"), ("save_gain_map", "load_gain_map")):
        getattr(calibrated, save)(spell(tmp_path / save))
        getattr(calibrated, load)(spell(tmp_path / save))


def test_a_trailing_slash_names_a_folder_and_every_reader_and_writer_refuses_it(calibrated, sim, tmp_path):
    target = f"{tmp_path}/new/"
    uses = [lambda write=write, make=make: write(target, make()) for _, write, _, make in FORMATS.values()]
    uses += [lambda read=read: read(target) for read, _, _, _ in FORMATS.values()]
    uses += [lambda: sim.play_raw(target), lambda: calibrated.save_gain_map(os.fsencode(target)),
             lambda: calibrated.load_pixel_map(target)]
    for use in uses:
        with pytest.raises((ValueError, n47.DetectorError), match="new/: ends with a slash, so it names a folder"):
            use()
    assert os.listdir(tmp_path) == []
