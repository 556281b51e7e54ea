import os

import pytest

from conftest import run_python

GRABBER = os.environ.get("N47_TEST_GRABBER")

needs_grabber = pytest.mark.skipif(not GRABBER, reason="N47_TEST_GRABBER names no test grabber library "
                                                    "(tests/grabber builds one on ELF systems)")

# The test grabber's panel: a flat of 6000 counts above a dark level of 100 through a smooth
# gain pattern, uniform noise of +-12 and a few small clusters of dead and hot pixels.
CAPTURE = """
import os, numpy as np, n47
detector = {make}
with detector:
    frame = detector.acquire()
    detector.drain_messages()
    print(detector.connected, detector.temperature)
rows, columns = np.indices(frame.shape)
gain = (1 + 0.12 * np.sin(2 * np.pi * columns / 1024) * np.sin(2 * np.pi * rows / 768)
        + 0.08 * (columns / 2047 - 0.5))
inner = np.abs(frame.astype(float) - (100 + 6000 * gain))[20:-20, 20:-20]
print(np.mean(inner <= 13) > 0.999, (frame[:20] == 16383).all())
try:
    n47.Simulator()
except n47.DetectorError as error:
    print(error)
os.environ["N47_TEST_GRABBER_OPEN"] = "-1"
with n47.Detector() as detector:
    try:
        detector.acquire()
    except n47.DetectorError as error:
        print(detector.connected, error)
"""


@needs_grabber
@pytest.mark.parametrize("make, env", [(f"n47.Detector(grabber={GRABBER!r})", {}),
                                       ("n47.Detector()", {"N47_GRABBER": GRABBER or ""})])
def test_a_grabber_with_only_the_eleven_operations_is_chosen_and_captures_its_panel(make, env):
    lines = run_python(CAPTURE.format(make=make), **env).splitlines()
    assert lines[:2] == ["True 31", "True True"]
    assert lines[2] == (f"the grabber library {GRABBER} (from {'the grabber argument' if not env else 'N47_GRABBER'}) "
                        "is not the simulator: it has none of the simulator's n47sim_ controls")
    assert lines[3].startswith("False the device did not open")


def test_a_grabber_that_is_not_there_is_named():
    out = run_python("import n47\ntry:\n    n47.Detector(grabber='/no/such/grabber.so')\n"
                     "except n47.DetectorError as error:\n    print(error)\n")
    assert out == "/no/such/grabber.so (from the grabber argument) is not a file; it names the grabber library\n"
