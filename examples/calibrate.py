#!/usr/bin/python3
"""Calibrates the simulated detector, corrects a flat and the test phantom, prints the figures.

    N47_LIBRARY_DIR=build/dev/bin PYTHONPATH=python /usr/bin/python3 examples/calibrate.py

Writes both maps (and, with matplotlib installed, a PNG of the phantom before and after
correction) to --out.
"""

import argparse
import os
import sys

import numpy as np

import n47
from n47 import maps

MARGIN = 32  # clear of the masked border and of the calibration's margin


def interior(frame):
    return frame[MARGIN:-MARGIN, MARGIN:-MARGIN].astype(np.float64)


def non_uniformity(frame):
    """Relative RMS deviation of a flat, percent."""
    values = interior(frame)
    return 100.0 * values.std() / values.mean()


def rms_error(frame, ideal):
    return float(np.sqrt(np.mean((interior(frame) - interior(ideal)) ** 2)))


def defect_pixels(defects):
    """Image pixels of the model's defects (whole rows and columns expanded)."""
    mask = np.zeros(n47.frames.SHAPE, bool)
    for kind, row, column in defects[["kind", "row", "column"]]:
        if row < 0:
            mask[:, column] = True
        elif column < 0:
            mask[row, :] = True
        else:
            mask[row, column] = True
    return mask


def save_png(path, raw, corrected):
    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        return False
    figure, axes = plt.subplots(1, 2, figsize=(12, 4.8))
    for axis, frame, title in zip(axes, (raw, corrected), ("raw", "corrected")):
        low, high = np.percentile(interior(frame), [0.5, 99.5])
        axis.imshow(frame, cmap="gray", vmin=low, vmax=high)
        axis.set_title(f"phantom, {title}")
        axis.axis("off")
    figure.tight_layout()
    figure.savefig(path, dpi=100)
    plt.close(figure)
    return True


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--out", default="out/python-example", help="folder for the maps and the picture")
    parser.add_argument("--seed", type=int, default=47)
    parser.add_argument("--flats", type=int, default=8, help="flats in the calibration series")
    parser.add_argument("--dose", type=float, default=6000.0, help="flat dose, counts above the dark level")
    parser.add_argument("--library-dir", help="folder of the libraries (else N47_LIBRARY_DIR, the install)")
    args = parser.parse_args()
    os.makedirs(args.out, exist_ok=True)
    pixel_map, gain_map = os.path.join(args.out, "pixel_map.raw"), os.path.join(args.out, "gain_map.raw")

    sim = n47.Simulator(args.library_dir)
    sim.reset()
    sim.start_model(seed=args.seed)
    with n47.Detector(args.library_dir) as detector:
        detector.drain_messages()
        print(f"detector connected: {detector.connected}, temperature {detector.temperature} degrees")

        detector.calibration_mode = True
        sim.scene, sim.dose = "flat", args.dose
        flats = [detector.acquire() for _ in range(args.flats)]
        detector.calibrate(flats)
        detector.save_pixel_map(pixel_map)
        detector.save_gain_map(gain_map)
        detector.load_pixel_map(pixel_map)
        detector.load_gain_map(gain_map)
        detector.calibration_mode = False

        cells = maps.read_pixel_map(pixel_map)
        gains = maps.read_gain_map(gain_map)
        truth = defect_pixels(sim.defects())
        marked = cells[: maps.MARKER_ROW, : maps.MARKER_COLUMN] != maps.GOOD
        print(f"calibration: {args.flats} flats at dose {args.dose:g}, seed {args.seed}")
        print(f"  defect map: {np.count_nonzero(marked)} pixels marked; line markers: "
              f"{np.count_nonzero(cells[: maps.MARKER_ROW, maps.MARKER_COLUMN])} on rows, "
              f"{np.count_nonzero(cells[maps.MARKER_ROW, : maps.MARKER_COLUMN])} on columns")
        print(f"  the model's {np.count_nonzero(truth)} defective pixels: "
              f"{np.count_nonzero(marked & truth)} marked ({100.0 * np.mean(marked[truth]):.1f} %)")
        used = gains[gains > 0]
        print(f"  gains: {used.min():.3f} to {used.max():.3f}, mean {used.mean():.4f}")

        corrected = detector.acquire()
        raw = sim.last_frame()
        print(f"flat non-uniformity (relative RMS): {non_uniformity(raw):.2f} % raw, "
              f"{non_uniformity(corrected):.2f} % corrected")

        sim.scene = "phantom"
        corrected = detector.acquire()
        raw, ideal = sim.last_frame(), sim.ideal()
        print(f"phantom RMS error against the ideal image: {rms_error(raw, ideal):.1f} counts raw, "
              f"{rms_error(corrected, ideal):.1f} counts corrected")

    picture = os.path.join(args.out, "phantom_before_after.png")
    if save_png(picture, raw, corrected):
        print(f"picture: {picture}")
    else:
        print("picture: none (matplotlib is not installed)")
    print(f"maps: {pixel_map}, {gain_map}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
