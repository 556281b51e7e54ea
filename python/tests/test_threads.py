import threading

import numpy as np

import n47
from conftest import ramp, run_python


def test_two_threads_acquiring_while_a_third_swaps_the_frames_get_whole_frames(detector, sim, tmp_path):
    detector.calibration_mode = True  # a smooth ramp then passes the correction unchanged
    frames = {scale: ramp(scale) for scale in (1, 2)}
    for scale, frame in frames.items():
        n47.frames.write_raw(tmp_path / f"{scale}.raw", frame)
    sim.play_raw(tmp_path / "1.raw")
    seen, errors, done = [], [], threading.Event()

    def acquire():
        try:
            for _ in range(3):
                frame = detector.acquire()
                seen.append(next((s for s, f in frames.items() if np.array_equal(frame, f)), None))
        except BaseException as error:
            errors.append(error)

    def swap():
        while not done.is_set():
            for scale in frames:
                sim.play_raw(tmp_path / f"{scale}.raw")

    threads = [threading.Thread(target=acquire) for _ in range(2)]
    swapper = threading.Thread(target=swap)
    for thread in threads + [swapper]:
        thread.start()
    for thread in threads:
        thread.join()
    done.set()
    swapper.join()
    assert errors == [] and len(seen) == 6 and None not in seen, (errors, seen)


def test_close_waits_for_the_capture_in_progress_and_later_calls_say_not_open():
    out = run_python(
        "import threading, time, n47\n"
        "sim = n47.Simulator()\n"
        "sim.start_model(seed=3)\n"
        "for run in range(4):\n"
        "    detector = n47.Detector().open()\n"
        "    outcome = []\n"
        "    def capture():\n"
        "        try:\n"
        "            while True:\n"
        "                detector.acquire().sum()\n"
        "        except n47.DetectorError as error:\n"
        "            outcome.append(str(error))\n"
        "    thread = threading.Thread(target=capture)\n"
        "    thread.start()\n"
        "    time.sleep(0.05 * run)\n"
        "    detector.close()\n"
        "    thread.join()\n"
        "    print(outcome[0])\n")
    assert out.splitlines() == ["the detector is not open (use it inside `with Detector() as ...`)"] * 4
