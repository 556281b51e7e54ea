#!/usr/bin/env python3
"""Writes the hand-made seeds of the correction and calibration fuzz targets into corpus/.

Each seed is one hard case of the fast forms (impulse clusters, values above 14 bits, every
map code and marker band, odd gains, small and odd geometries), laid out as the target
reads its input. Run it again after changing that layout; the files are kept in git.
"""
import os
import random
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(bytes(data))


def correction(width, height, stages, codes, gains, pixels, wide_values=False):
    """codes: (height+1) x (width+1) map bytes; gains: height x width floats or None for
    one of the ordinary gains; pixels: height x width values."""
    data = [width, height, stages]
    for row in codes:
        for code in row:
            data.append(code if code >= 200 else code)  # 0, 1, 2 stand for themselves
    for row in gains:
        for g in row:
            if g is None:
                data.append(32)  # 0.5 + 32/32 = 1.5
            elif isinstance(g, int):
                data.append(g)  # an ordinary gain: 0.5 + (g % 64) / 32
            else:
                data.append(200)
                data.extend(struct.pack("<f", g))
    data.append(200 if wide_values else 0)
    for row in pixels:
        for v in row:
            data.extend(struct.pack("<H", v))
    return data


def level_frame(rng, width, height, level, noise):
    return [[max(0, level + rng.randint(-noise, noise)) for _ in range(width)] for _ in range(height)]


def empty_codes(width, height):
    return [[0] * (width + 1) for _ in range(height + 1)]


def unit_gains(width, height):
    return [[16] * width for _ in range(height)]  # 0.5 + 16/32 = 1.0


def correction_seeds():
    rng = random.Random(47)
    FILTER, CODE2, GAIN, PIXELS, BORDER, PIPELINE, CALIBRATION = 1, 2, 4, 8, 32, 64, 128

    # Impulse clusters: single, pairs, 2x2 and 3x1 blocks of bright and dark impulses, on a
    # flat patch where the filter's band is narrowest, one reaching the frame's edge.
    w, h = 96, 48
    frame = level_frame(rng, w, h, 1000, 1)
    for y, x, size in [(10, 10, 1), (12, 30, 2), (30, 50, 2), (20, 70, 3), (0, 0, 2), (47, 95, 1), (24, 93, 3)]:
        for dy in range(size):
            for dx in range(min(size, 2)):
                if y + dy < h and x + dx < w:
                    frame[y + dy][x + dx] = 16000 if (x + y) % 2 == 0 else 0
    write("correction_stages", "impulse-clusters-96x48", correction(w, h, FILTER, empty_codes(w, h), unit_gains(w, h), frame))

    # Values far above 14 bits among ordinary ones, through the filter and the gain.
    frame = level_frame(rng, w, h, 15000, 600)
    for _ in range(80):
        frame[rng.randrange(h)][rng.randrange(w)] = rng.choice([16383, 16384, 40000, 65535])
    write("correction_stages", "above-14-bits-96x48",
          correction(w, h, FILTER | GAIN, empty_codes(w, h), unit_gains(w, h), frame, wide_values=True))

    # Every code and marker: scattered code 1 and 2 cells, clusters of code 2, marked rows and
    # columns alone and in bands of 3 to 5, markers of unexpected values.
    codes = empty_codes(w, h)
    for _ in range(120):
        codes[rng.randrange(h)][rng.randrange(w)] = rng.choice([1, 2, 2, 255])
    for y, x in [(5, 5), (5, 6), (6, 5), (6, 6), (40, 90), (41, 90)]:
        codes[y][x] = 2
    for r in [3, 17, 18, 19, 30, 31, 32, 33, 34, 47]:
        codes[r][w] = 1
    for c in [0, 22, 23, 24, 60, 61, 62, 63, 64, 95]:
        codes[h][c] = 1
    codes[h][w] = 2
    frame = level_frame(rng, w, h, 3000, 40)
    write("correction_stages", "codes-and-bands-96x48",
          correction(w, h, CODE2 | PIXELS | 16, codes, unit_gains(w, h), frame))
    write("correction_stages", "pipeline-codes-and-bands-96x48",
          correction(w, h, PIPELINE, codes, unit_gains(w, h), frame))
    write("correction_stages", "pipeline-calibration-mode-96x48",
          correction(w, h, PIPELINE | CALIBRATION, codes, unit_gains(w, h), frame))

    # Odd gains: zero, negative, huge, infinite, NaN, denormal, just under and over 1.
    odd = [0.0, -1.0, 1e30, float("inf"), float("-inf"), float("nan"), 1e-40, 0.99999994, 1.0000001, 3.5]
    gains = [[odd[(x * 7 + y) % len(odd)] if (x + y) % 3 == 0 else None for x in range(w)] for y in range(h)]
    frame = level_frame(rng, w, h, 9000, 3000)
    write("correction_stages", "odd-gains-96x48", correction(w, h, GAIN, empty_codes(w, h), gains, frame, wide_values=True))
    write("correction_stages", "pipeline-odd-gains-96x48",
          correction(w, h, PIPELINE, codes, gains, frame, wide_values=True))

    # Small and odd geometries around each kernel's limits.
    for w, h in [(9, 9), (10, 41), (41, 41), (33, 47), (57, 13), (1, 48), (48, 1), (95, 21), (17, 40), (40, 17)]:
        frame = level_frame(rng, w, h, 2000, 200)
        for _ in range(max(1, w * h // 50)):
            frame[rng.randrange(h)][rng.randrange(w)] = rng.choice([0, 16383, 30000])
        codes = empty_codes(w, h)
        for _ in range(max(1, w * h // 40)):
            codes[rng.randrange(h + 1)][rng.randrange(w + 1)] = rng.choice([1, 2])
        write("correction_stages", f"pipeline-{w}x{h}",
              correction(w, h, PIPELINE, codes, unit_gains(w, h), frame, wide_values=True))
        write("correction_stages", f"each-stage-{w}x{h}",
              correction(w, h, FILTER | CODE2 | GAIN | PIXELS | 16 | BORDER, codes, unit_gains(w, h), frame))


def calibration(width, height, marks, frames):
    """marks: set of (row, column) cells of the map already marked; frames: list of
    (kind, level, bytes, lines) where lines are (where, value) pairs."""
    data = [width, height, len(frames) - 1]
    for r in range(height + 1):
        for c in range(width + 1):
            data.append(0 if (r, c) in marks else 200)
    for kind, level, values, lines in frames:
        data.append(kind)
        data.extend(struct.pack("<H", level))
        data.extend(values)
        data.append(len(lines))
        for where, value in lines:
            data.extend([where, value])
    return data


def calibration_seeds():
    rng = random.Random(1547)
    # A series of three noisy flats with outliers, weak and hot lines, and a band of three
    # weak rows, over a map with earlier marks.
    w, h = 96, 64
    marks = {(rng.randrange(h), rng.randrange(w)) for _ in range(30)}
    frames = []
    for index in range(3):
        values = [rng.randrange(8, 256) for _ in range(w * h)]
        for _ in range(40):
            values[rng.randrange(w * h)] = rng.randrange(8)  # outliers, dark to very hot
        frames.append((200, 3000 + 100 * index, values, [(2 * 30, 10), (2 * 31, 10), (2 * 32, 10), (2 * 50 + 1, 250)]))
    write("calibration_steps", "series-lines-and-bands-96x64", calibration(w, h, marks, frames))

    # Near the 14-bit ceiling, and flats at or below the dark offset (gain 0).
    frames = [(0, 16380, [rng.randrange(256) for _ in range(w * h)], []),
              (0, 16383, [255] * (w * h), [(7, 255)])]
    write("calibration_steps", "near-the-ceiling-96x64", calibration(w, h, set(), frames))
    frames = [(0, 90, [rng.randrange(16) for _ in range(w * h)], []) for _ in range(2)]
    write("calibration_steps", "below-the-dark-offset-96x64", calibration(w, h, set(), frames))

    # Geometry at and around the defect map's minimum, and odd sizes.
    for w, h in [(33, 33), (32, 40), (40, 32), (35, 64), (96, 33), (1, 1), (0, 5), (61, 47)]:
        frames = [(200, 2000, [rng.randrange(256) for _ in range(w * h)], [(3, 0)]) for _ in range(2)]
        write("calibration_steps", f"series-{w}x{h}", calibration(w, h, set(), frames))
    # One flat alone: the first step is also the last.
    w, h = 64, 48
    write("calibration_steps", "single-flat-64x48",
          calibration(w, h, set(), [(200, 500, [rng.randrange(256) for _ in range(w * h)], [(9, 128)])]))


def model_params_seeds():
    """A seed, then per field after it a choice: 0 default, 1 low end, 2 high end, 3 below,
    4 above, 5 a share of the range (one byte), 6 any value (a double or an int32)."""
    fields = 14
    first_count = 7  # the fields from dead_pixels on are ints

    def seed(choices):
        data = list(struct.pack("<I", 47))
        for index in range(fields):
            choice = choices.get(index, 0)
            if isinstance(choice, tuple):  # (6, value)
                data.append(6)
                data.extend(struct.pack("<d" if index < first_count else "<i", choice[1]))
            else:
                data.append(choice)
                if choice == 5:
                    data.append(200)
        return data

    write("model_params", "defaults", seed({}))
    write("model_params", "all-low", seed({i: 1 for i in range(fields)}))
    write("model_params", "all-high", seed({i: 2 for i in range(fields)}))
    write("model_params", "shares", seed({i: 5 for i in range(fields)}))
    for index, name in [(2, "prnu-above"), (3, "shading-above"), (11, "dead-rows-above"),
                        (13, "band-lines-above"), (0, "dark-offset-below")]:
        write("model_params", name, seed({index: 4 if "above" in name else 3}))
    write("model_params", "prnu-nan", seed({2: (6, float("nan"))}))
    write("model_params", "impulse-rate-infinite", seed({6: (6, float("inf"))}))
    write("model_params", "bright-columns-5000", seed({12: (6, 5000)}))
    write("model_params", "dead-rows-100", seed({11: (6, 100)}))


if __name__ == "__main__":
    correction_seeds()
    calibration_seeds()
    model_params_seeds()
